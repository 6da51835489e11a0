// `pictures-in-a-row record` as a user runs it: a process with no display, its exit status,
// its output and its files.
#include "picture_files/image_files.h"
#include "app/record_times.h"
#include "test_files.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

class TestRecordCommand : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void countedSeries_data();
    void countedSeries();
    void interruptedSeries_data();
    void interruptedSeries();
    void refusals_data();
    void refusals();
    void times_data();
    void times();
    void repeatingNamesAreAnnounced();
    void failedSaveStopsTheSeries();
    void twoSeriesAtOnce_data();
    void twoSeriesAtOnce();

private:
    // Through `runner` (a command and its arguments) when one is given.
    void startRecord(QProcess &process, const QStringList &arguments, const QStringList &runner = {}) const;
    QString driverFile() const;
    QStringList logRows(const QString &logPath) const;
    void verifyPictures(const QStringList &rows) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_out;
};

void TestRecordCommand::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_out = m_dir->filePath(QStringLiteral("out"));
}

QString TestRecordCommand::driverFile() const
{
    return writeTextFile(m_dir->filePath(QStringLiteral("small.vin")),
                         "source = test-pattern\nwidth = 64\nheight = 48\npixel-format = Mono16\n");
}

// No display of any kind: the command must not need one.
void TestRecordCommand::startRecord(QProcess &process, const QStringList &arguments, const QStringList &runner) const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QLatin1String(name));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(m_dir->path());
    const QStringList command = runner + QStringList{QStringLiteral(PIR_APP_PATH), QStringLiteral("record")} + arguments;
    process.start(command.first(), command.mid(1));
    QVERIFY(process.waitForStarted());
}

QStringList TestRecordCommand::logRows(const QString &logPath) const
{
    QFile file(logPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Every row names a whole picture of the size the camera gives, beside the log.
void TestRecordCommand::verifyPictures(const QStringList &rows) const
{
    for (const QString &row : rows) {
        const QString name = m_out + QLatin1Char('/') + row.section(QLatin1Char(','), 1, 1);
        Frame frame;
        const Status loaded = loadImage(name, frame);
        QVERIFY2(loaded.ok(), qPrintable(loaded.reason()));
        QCOMPARE(frame.width, 64);
        QCOMPARE(frame.height, 48);
    }
}

void TestRecordCommand::countedSeries_data()
{
    QTest::addColumn<QString>("type");
    for (const char *type : {".bmp", ".tif", ".jpg", ".mio"})
        QTest::newRow(type) << QString::fromLatin1(type);
}

void TestRecordCommand::countedSeries()
{
    QFETCH(QString, type);
    QProcess process;
    startRecord(process, {QStringLiteral("--driver"), driverFile(), QStringLiteral("--dir"), m_out,
                          QStringLiteral("--name"), QStringLiteral("Probe"), QStringLiteral("--type"), type,
                          QStringLiteral("--interval"), QStringLiteral("50"), QStringLiteral("--add"),
                          QStringLiteral("number,channel1"), QStringLiteral("--count"), QStringLiteral("4")},
                {QStringLiteral("prlimit"), QStringLiteral("--rttime=200000")});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    const QStringList output = QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(output.size(), 1);
    QCOMPARE(QFileInfo(output.first()).absolutePath(), m_out);
    const QStringList lines = logRows(output.first());
    QVERIFY(lines.contains(QStringLiteral("# options: number, channel 1")));
    // Under a limit past which the kernel kills a busy real-time thread, no real-time is taken.
    QVERIFY(lines.contains(QStringLiteral("# schedule: normal priority (real-time not taken: RLIMIT_RTTIME limits a "
                                          "real-time thread to 200 ms without sleeping)")));
    QVERIFY(lines.contains(QStringLiteral("# settings: exposure unknown, gain unknown, frame rate 25 frames/s, pixel "
                                          "format Mono16, 16 significant bits, trigger free-running")));
    // The 16-bit camera's bits are lost in the 8-bit files: the log and standard error say so.
    const bool eightBits = type == u".bmp" || type == u".jpg";
    QCOMPARE(lines.filter(QStringLiteral("# bits: ")),
             eightBits ? QStringList{"# bits: the camera gives 16 significant bits; " + type + " pictures keep the upper 8"}
                       : QStringList{});
    QCOMPARE(QString::fromUtf8(process.readAllStandardError()).contains(QStringLiteral("The camera gives 16 significant "
                                                                                       "bits; ") + type),
             eightBits);
    const QStringList rows = lines.filter(QRegularExpression(QStringLiteral("^\\d+,")));
    QCOMPARE(rows.size(), 4);
    const QRegularExpression name(QStringLiteral("^Probe_00(\\d)_\\d\\d[.,]\\d_V\\") + type + QLatin1Char('$'));
    for (int i = 0; i < rows.size(); ++i) {
        const QRegularExpressionMatch m = name.match(rows[i].section(QLatin1Char(','), 1, 1));
        QVERIFY2(m.hasMatch(), qPrintable(rows[i]));
        QCOMPARE(m.captured(1).toInt(), i + 1);
        QCOMPARE(rows[i].section(QLatin1Char(','), 9, 9), QStringLiteral("ok"));
    }
    verifyPictures(rows);
    QCOMPARE(QDir(m_out).entryList({QStringLiteral("*") + type}, QDir::Files).size(), 4);
}

// Interrupted as Stop does: the step under way completes, every picture is whole, the log is
// complete and says that the pictures reached the disk.
void TestRecordCommand::interruptedSeries_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGHUP, the terminal of an SSH connection closed") << int(SIGHUP);
}

void TestRecordCommand::interruptedSeries()
{
    QFETCH(int, signal);
    QProcess process;
    startRecord(process, {QStringLiteral("--driver"), driverFile(), QStringLiteral("--dir"), m_out,
                          QStringLiteral("--interval"), QStringLiteral("50"), QStringLiteral("--add"),
                          QStringLiteral("number"), QStringLiteral("--type"), QStringLiteral(".mio")});
    QTRY_VERIFY_WITH_TIMEOUT(QDir(m_out).entryList({QStringLiteral("*.mio")}, QDir::Files).size() >= 5, 20000);
    ::kill(pid_t(process.processId()), signal);
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    const QString logPath = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    const QStringList lines = logRows(logPath);
    const QStringList rows = lines.filter(QRegularExpression(QStringLiteral("^\\d+,")));
    QCOMPARE(rows.size(), QDir(m_out).entryList({QStringLiteral("*.mio")}, QDir::Files).size());
    QVERIFY(lines.constLast().startsWith(QStringLiteral("# synced ")));
    verifyPictures(rows);
    // Nothing half-written is left beside them.
    QCOMPARE(QDir(m_out).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral(".part")), QStringList());
}

// Refused before anything is written: exit status 2, the reason on standard error.
void TestRecordCommand::refusals_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("reason");
    QTest::newRow("interval below") << QStringList{"--interval", "49"} << "--interval takes milliseconds from 50 to";
    QTest::newRow("interval above a day") << QStringList{"--interval", "86400001"} << "not \"86400001\"";
    QTest::newRow("interval not a number") << QStringList{"--interval", "fast"} << "not \"fast\"";
    QTest::newRow("start at no time") << QStringList{"--start-at", "24:00"} << "--start-at: \"24:00\" is not a time";
    QTest::newRow("until a time passed") << QStringList{"--until", "2001-01-01T00:00"} << "--until: 2001-01-01T00:00:00 has passed";
    QTest::newRow("until before the start") << QStringList{"--start-at", "2999-01-02T00:00", "--until", "2999-01-01T00:00"}
                                            << "does not come after --start-at";
    QTest::newRow("disk reserve no size") << QStringList{"--disk-reserve", "lots"} << "--disk-reserve takes a size";
    QTest::newRow("unknown option") << QStringList{"--colour"} << "Unknown option 'colour'";
    QTest::newRow("unknown type") << QStringList{"--type", ".png"} << "Unknown file type \".png\"";
    QTest::newRow("unknown add item") << QStringList{"--add", "number,date"} << "--add takes";
    QTest::newRow("no such driver file") << QStringList{"--driver", "missing.vin"} << "missing.vin";
    QTest::newRow("first picture exists") << QStringList{"--add", ""} << "File already exists:";
    // An unset variable in a script must not make the root folder the directory.
    QTest::newRow("empty directory") << QStringList{"--dir", ""} << "--dir takes a directory";
    QTest::newRow("line break in the base name") << QStringList{"--name", "two\nlines"} << "control character U+000A";
    QTest::newRow("base name not UTF-8") << QStringList{"--name", QString::fromUtf8("bad\xff")} << "not UTF-8";
    QTest::newRow("log name too long") << QStringList{"--name", QString(240, u'n'), "--add", ""} << "too long";
    // A number with a group separator is not taken for another one.
    QTest::newRow("interval with a separator") << QStringList{"--interval", "65,000"} << "not \"65,000\"";
    QTest::newRow("count with a separator") << QStringList{"--count", "1,000"} << "--count takes";
    QTest::newRow("duration with a separator") << QStringList{"--duration", "1,5"} << "--duration takes";
    QTest::newRow("an option twice") << QStringList{"--interval", "100", "--interval=200"} << "--interval is given more than once";
    QTest::newRow("hidden: nothing but the extension") << QStringList{"--name", "", "--add", ""} << "hidden files";
    QTest::newRow("hidden: a dot") << QStringList{"--name", "."} << "hidden files";
    QTest::newRow("reversed text") << QStringList{"--name", QString::fromUtf8("Probe\u202Egpj")} << "U+202E";
    QTest::newRow("out of the directory") << QStringList{"--name", "../x"} << "The name leads out of the directory";
}

void TestRecordCommand::refusals()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, reason);
    if (reason == u"File already exists:") {
        QVERIFY(QDir().mkpath(m_out));
        QFile existing(m_out + QStringLiteral("/VideoBasename.bmp"));
        QVERIFY(existing.open(QIODevice::WriteOnly));
        reason += u' ' + existing.fileName();
    }
    const bool existed = QFileInfo::exists(m_out);
    QProcess process;
    if (!arguments.contains(QStringLiteral("--driver")))
        arguments << QStringLiteral("--driver") << driverFile();
    if (!arguments.contains(QStringLiteral("--dir")))
        arguments << QStringLiteral("--dir") << m_out;
    startRecord(process, arguments);
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 2);
    QVERIFY(process.readAllStandardOutput().isEmpty());
    const QString error = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(error.contains(reason), qPrintable(error));
    QVERIFY(error.count(QLatin1Char('\n')) == 1 || reason.startsWith(QStringLiteral("Unknown option")));
    if (existed)
        QCOMPARE(QDir(m_out).entryList(QDir::Files), QStringList{QStringLiteral("VideoBasename.bmp")});
    else
        QVERIFY(!QFileInfo::exists(m_out));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files).filter(QRegularExpression(QStringLiteral("^(?!small\\.vin$)"))),
             QStringList());
}

// Before a series whose names repeat, standard error says that each picture replaces the one
// before. The log's file column names the pictures beside the log, also with a relative --dir.
void TestRecordCommand::repeatingNamesAreAnnounced()
{
    for (int count : {2, 1}) {
        const QString name = QStringLiteral("Same%1").arg(count);
        QProcess process;
        startRecord(process, {"--driver", driverFile(), "--dir", "out", "--name", name, "--add", "", "--interval", "50",
                              "--count", QString::number(count), "--quiet"});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(process.readAllStandardError().contains(
                     "Note: no number or time in the names: every picture replaces the previous one.\n"),
                 count > 1);
        const QString log = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
        const QStringList rows = logRows(m_dir->filePath(log)).filter(QRegularExpression(QStringLiteral("^\\d+,")));
        QCOMPARE(rows.size(), count);
        QCOMPARE(rows.constLast().section(QLatin1Char(','), 1, 1), name + QStringLiteral(".bmp"));
    }
}

void TestRecordCommand::times_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("instant"); // ISO 8601; empty: refused
    // Now is 2024-05-01T21:00:00, local time.
    QTest::newRow("later today") << "22:00" << "2024-05-01T22:00:00";
    QTest::newRow("passed today: tomorrow") << "20:59:59" << "2024-05-02T20:59:59";
    QTest::newRow("now: tomorrow") << "21:00" << "2024-05-02T21:00:00";
    QTest::newRow("with seconds") << "21:00:30" << "2024-05-01T21:00:30";
    QTest::newRow("ISO, local") << "2024-05-02T06:30" << "2024-05-02T06:30:00";
    QTest::newRow("ISO with a blank") << "2024-05-02 06:30" << "2024-05-02T06:30:00";
    QTest::newRow("ISO, UTC") << "2099-05-02T06:30:00Z" << "2099-05-02T06:30:00Z";
    QTest::newRow("ISO with an offset") << "2099-05-02T06:30:00+02:00" << "2099-05-02T06:30:00+02:00";
    QTest::newRow("hour 24") << "24:00" << "";
    QTest::newRow("a date alone") << "2024-05-02" << "";
    QTest::newRow("passed") << "2024-05-01T20:00" << "";
    QTest::newRow("words") << "tomorrow" << "";
}

void TestRecordCommand::times()
{
    QFETCH(QString, text);
    QFETCH(QString, instant);
    const QDateTime now(QDate(2024, 5, 1), QTime(21, 0));
    QString error;
    const QDateTime at = parseRecordTime(text, now, error);
    QCOMPARE(at, instant.isEmpty() ? QDateTime() : QDateTime::fromString(instant, Qt::ISODate));
    QCOMPARE(error.isEmpty(), !instant.isEmpty());
}

// The folder goes away mid-series: the series stops with the window's message, the log holds
// the failed row, and the exit status says so.
void TestRecordCommand::failedSaveStopsTheSeries()
{
    QProcess process;
    startRecord(process, {QStringLiteral("--driver"), driverFile(), QStringLiteral("--dir"), m_out,
                          QStringLiteral("--interval"), QStringLiteral("50"), QStringLiteral("--add"),
                          QStringLiteral("number")});
    QTRY_VERIFY_WITH_TIMEOUT(QDir(m_out).entryList({QStringLiteral("*.bmp")}, QDir::Files).size() >= 3, 20000);
    const QString moved = m_dir->filePath(QStringLiteral("moved"));
    QVERIFY(QDir().rename(m_out, moved));
    QFile blocker(m_out);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 1);
    // The message of the failed step follows the note on the bits .bmp loses; the summary ends
    // standard error.
    QStringList message = QString::fromUtf8(process.readAllStandardError()).trimmed().split(QLatin1Char('\n'));
    // The folder that went cannot be synced either.
    QCOMPARE(message.size(), 6);
    QVERIFY(message.takeFirst().startsWith(QStringLiteral("The camera gives 16 significant bits")));
    QVERIFY2(message.takeLast().startsWith(QStringLiteral("Series ended: ")), qPrintable(message.join(u'\n')));
    QVERIFY(message.takeLast().startsWith(QStringLiteral("Cannot write the pictures in \"") + m_out));
    QCOMPARE(message[0], QStringLiteral("Could not save the picture:"));
    QVERIFY(message[1].startsWith(m_out + QStringLiteral("/VideoBasename_")));
    const QString logPath = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    const QStringList rows = logRows(moved + QLatin1Char('/') + QFileInfo(logPath).fileName())
                                 .filter(QRegularExpression(QStringLiteral("^\\d+,")));
    QVERIFY(rows.size() >= 4);
    QVERIFY2(rows.constLast().section(QLatin1Char(','), 9, 9) != u"ok", qPrintable(rows.constLast()));
}

void TestRecordCommand::twoSeriesAtOnce_data()
{
    QTest::addColumn<QString>("secondAdd"); // the first series' names carry the number
    QTest::newRow("same names") << "number";
    QTest::newRow("other names") << "time";
}

// Two series into one folder with one base name, started together: each has a log of its own,
// also within the same second, and no picture replaces another. A series whose name the other
// took first stops with "File already exists." (exit 1), or is refused at Start (exit 2).
void TestRecordCommand::twoSeriesAtOnce()
{
    QFETCH(QString, secondAdd);
    QProcess processes[2];
    for (int i = 0; i < 2; ++i)
        startRecord(processes[i], {"--driver", driverFile(), "--dir", m_out, "--name", "Twice", "--interval", "50",
                                   "--add", i == 0 ? QStringLiteral("number") : secondAdd, "--count", "5"});
    QStringList logs, saved;
    for (QProcess &process : processes) {
        QVERIFY(process.waitForFinished(30000));
        const QString log = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
        QCOMPARE(log.isEmpty(), process.exitCode() == 2);
        QVERIFY(process.exitCode() == 0 || (secondAdd == u"number" && (process.exitCode() == 2 ||
                                            process.readAllStandardError().contains("\nFile already exists.\n"))));
        for (const QString &row : logRows(log).filter(QRegularExpression(QStringLiteral("^\\d+,.*,ok,"))))
            saved << m_out + u'/' + row.section(QLatin1Char(','), 1, 1) + u' ' + row.section(QLatin1Char(','), 10, 10);
        if (!log.isEmpty())
            logs << log;
    }
    QCOMPARE(QSet<QString>(logs.begin(), logs.end()).size(), logs.size());
    // Every file but the logs, hidden ones too, is a picture of one row, of the size it gives.
    QStringList found;
    for (const QFileInfo &file : QDir(m_out).entryInfoList(QDir::Files | QDir::Hidden)) {
        if (file.suffix() != u"csv")
            found << file.filePath() + u' ' + QString::number(file.size());
    }
    saved.sort();
    found.sort();
    QCOMPARE(saved, found);
}

QTEST_GUILESS_MAIN(TestRecordCommand)
#include "test_record_command.moc"
