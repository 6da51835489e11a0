// Scripts drive and watch a series over the session bus, through the clients a lab uses:
// Debian's python3-dbus, gdbus and `pictures-in-a-row control`. The test runs under
// dbus-run-session, on a private bus of its own; the window lives in the test itself.
#include "analog/simulated_card.h"
#include "picture_files/image_files.h"
#include "picture_files/picture_record.h"
#include "recording/interval.h"
#include "recording/series_control.h"
#include "remote/bus_names.h"
#include "remote/remote_control.h"
#include "ui/form1.h"
#include "ui/message_box.h"
#include "test_files.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QGroupBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

struct Finished
{
    int exitCode = -1; // -1: crashed or still running at the deadline (then killed)
    QString out;
    QString err;
};

// Waits for a client while the window goes on answering the bus.
Finished finish(QProcess &process, int timeoutMs = 60000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (process.state() != QProcess::NotRunning && !deadline.hasExpired())
        QTest::qWait(10);
    if (process.state() != QProcess::NotRunning) {
        process.kill(); // our own child, by its PID
        process.waitForFinished();
    }
    const bool normal = process.exitStatus() == QProcess::NormalExit && !deadline.hasExpired();
    return {normal ? process.exitCode() : -1, QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

Finished run(const QString &program, const QStringList &arguments,
             const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    return finish(process);
}

Finished control(const QStringList &arguments)
{
    return run(QStringLiteral(PIR_APP_PATH), QStringList{QStringLiteral("control")} + arguments);
}

// The rows of a series log, by picture number: the file's name, scheduled_ms and stopwatch_ms.
QMap<qint64, QStringList> logRows(const QString &logPath)
{
    QFile log(logPath);
    QMap<qint64, QStringList> rows;
    if (!log.open(QIODevice::ReadOnly))
        return rows;
    for (const QString &line : QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'))) {
        const QStringList f = line.split(QLatin1Char(','));
        if (f.size() > 9 && f[9] == u"ok")
            rows.insert(f[0].toLongLong(), {QFileInfo(f[1]).fileName(), f[2], f[3]});
    }
    return rows;
}

// Each member of each interface with its arguments, as "kind name type/direction ...".
QStringList interfaceMembers(const QString &xml, const QString &interface)
{
    QStringList members;
    QXmlStreamReader reader(xml);
    bool inside = false;
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::EndElement && reader.name() == u"interface")
            inside = false;
        if (!reader.isStartElement())
            continue;
        auto attribute = [&reader](const char *name) { return reader.attributes().value(QLatin1String(name)); };
        if (reader.name() == u"interface")
            inside = attribute("name") == interface;
        else if (inside && reader.name() == u"arg")
            members.last() +=
                QStringLiteral(" %1:%2/%3").arg(attribute("name"), attribute("type"), attribute("direction"));
        else if (inside && reader.name() != u"annotation")
            members << QStringLiteral("%1 %2 %3").arg(reader.name(), attribute("name"), attribute("type"));
    }
    return members;
}

} // namespace

class TestRemote : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void windowSeriesFromPython();
    void refusals_data();
    void refusals();
    void interfacesAsInstalled();
    void secondWindowKeepsOffTheName();
    void engineEventsReachScripts();
    void recordWatchedAndStoppedByControl();
    void withoutSessionBus();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_driver;
    QString m_out;
    std::unique_ptr<Form1> m_form;
    std::unique_ptr<RemoteControl> m_remote;
    QStringList m_messages;
};

void TestRemote::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_out = m_dir->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(m_out));
    m_driver = writeTextFile(m_dir->filePath(QStringLiteral("camera.vin")),
                             QStringLiteral("source = test-pattern\nwidth = 64\nheight = 48\n"));
    m_messages.clear();
    setMessageSink([this](const QString &text) { m_messages << text; });
    m_form = std::make_unique<Form1>(m_driver, std::make_unique<SimulatedCard>());
    m_form->show();
    m_remote = std::make_unique<RemoteControl>(*m_form, windowServiceName());
    QVERIFY2(m_remote->isOn(), qPrintable(m_remote->note()));
}

void TestRemote::cleanup()
{
    m_remote.reset();
    m_form.reset();
    setMessageSink({});
}

// Set up, started, watched for 10 pictures and stopped by a Python script: the window shows what
// it did, no message box opened for its refusals, and what it heard is what the files and the
// log hold.
void TestRemote::windowSeriesFromPython()
{
    const Finished client = run(QStringLiteral("/usr/bin/python3"),
                                {QStringLiteral(PIR_SERIES_CLIENT), windowServiceName(), seriesObjectPath(), m_out});
    QVERIFY2(client.exitCode == 0, qPrintable(client.err));
    const QJsonObject heard = QJsonDocument::fromJson(client.out.toUtf8()).object();
    const QJsonObject refused = heard[u"refused"].toObject();
    const QString error = QLatin1String(kRefusedError);
    const std::pair<const char *, QString> refusals[] = {
        {"start at start-up", QStringLiteral("Please choose a filename first!")},
        {"interval 49", QLatin1String(kIntervalMessage)},
        {"base name while running", QLatin1String(kSetupLockedMessage)},
        {"start while running", QLatin1String(kSeriesRunningMessage)},
        {"start with the same base name", QStringLiteral("Please choose a new filename!")}};
    for (const auto &[name, message] : refusals)
        QCOMPARE(refused[QLatin1String(name)].toArray(), (QJsonArray{error, message}));
    QCOMPARE(m_messages, QStringList());

    QCOMPARE(m_form->SaveText->text(), QStringLiteral("probe"));
    QCOMPARE(m_form->Frames->text(), QStringLiteral("100"));
    QCOMPARE(m_form->FileType->currentText(), QStringLiteral(".tif"));
    QCOMPARE((QList<bool>{m_form->NumberCheck->isChecked(), m_form->TimeCheck->isChecked(),
                          m_form->Channel0Check->isChecked(), m_form->Channel1Check->isChecked()}),
             (QList<bool>{true, true, false, false}));
    QCOMPARE(m_form->StartStop->text(), QStringLiteral("Start"));
    QVERIFY(m_form->FileSetupFrame->isEnabled());

    QCOMPARE(heard[u"states"].toArray(), (QJsonArray{"running", "stopping", "idle"}));
    const QJsonArray pictures = heard[u"pictures"].toArray();
    QVERIFY(pictures.size() >= 10);
    QCOMPARE(heard[u"stopped"].toArray(), (QJsonArray{true, "", pictures.size(), 0}));
    const QJsonObject properties = heard[u"properties"].toObject();
    const QString logPath = heard[u"started"].toString();
    QCOMPARE(properties[u"LogPath"].toString(), logPath);
    QCOMPARE(properties[u"PicturesSaved"].toInt(), pictures.size());
    QCOMPARE(properties[u"LastPicture"], pictures.last()[1]);
    QCOMPARE(properties[u"Directory"].toString(), m_out + QLatin1Char('/'));
    QCOMPARE(properties[u"Options"].toArray(), (QJsonArray{"number", "time"}));

    const QMap<qint64, QStringList> rows = logRows(logPath);
    QCOMPARE(rows.size(), pictures.size());
    QCOMPARE(QDir(m_out).entryList({QStringLiteral("*.tif")}).size(), pictures.size());
    for (int i = 0; i < pictures.size(); ++i) {
        const QJsonArray p = pictures[i].toArray();
        QCOMPARE(p[0].toInt(), i + 1);
        const QStringList said = {QFileInfo(p[1].toString()).fileName(), recordMilliseconds(p[2].toDouble()),
                                  recordMilliseconds(p[3].toDouble())};
        QCOMPARE(rows.value(i + 1), said);
        Frame frame;
        QVERIFY(loadImage(p[1].toString(), frame).ok());
    }
}

void TestRemote::refusals_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("argument"); // in GVariant's text form
    QTest::addColumn<QString>("message");
    const QString setup = QLatin1String(kSetupInterface);
    QTest::newRow("interval below 50") << setup + ".SetInterval" << "49" << kIntervalMessage;
    QTest::newRow("interval above 65000") << setup + ".SetInterval" << "65001" << kIntervalMessage;
    QTest::newRow("file type off the list")
        << setup + ".SetFileType" << "'.png'" << "Unknown file type \".png\": use .bmp, .tif, .jpg, .mio";
    QTest::newRow("relative directory")
        << setup + ".SetDirectory" << "'out'" << "The directory must be given from the root: out";
    QTest::newRow("missing directory")
        << setup + ".SetDirectory" << "'/nonexistent/pir'" << "There is no directory /nonexistent/pir";
    QTest::newRow("unknown option") << setup + ".SetOptions" << "['number', 'colour']"
                                    << "The options are number, time, channel0 and channel1, not \"number,colour\"";
    QTest::newRow("line break in the base name")
        << setup + ".SetBaseName" << "'a\\nb'"
        << "The base name holds the control character U+000A, which cannot be typed into it";
    QTest::newRow("start before a name was composed")
        << QLatin1String(kSeriesInterface) + ".Start" << QString() << "Please choose a filename first!";
}

// Each refusal comes back as a D-Bus error with the window's text, opens no message box and
// leaves the window as it was.
void TestRemote::refusals()
{
    QFETCH(QString, method);
    QFETCH(QString, argument);
    QFETCH(QString, message);
    QStringList arguments = {QStringLiteral("call"),        QStringLiteral("--session"),   QStringLiteral("--dest"),
                             windowServiceName(),           QStringLiteral("--object-path"), seriesObjectPath(),
                             QStringLiteral("--method"),    method};
    if (!argument.isEmpty())
        arguments << argument;
    const Finished gdbus = run(QStringLiteral("gdbus"), arguments);
    QVERIFY(gdbus.exitCode > 0);
    QVERIFY2(gdbus.err.contains(QStringLiteral("GDBus.Error:%1: %2\n").arg(QLatin1String(kRefusedError), message)),
             qPrintable(gdbus.err));
    QCOMPARE(m_messages, QStringList());
    QCOMPARE((QStringList{m_form->Frames->text(), m_form->FileType->currentText(), m_form->SaveText->text(),
                          m_form->FileLabel->text(), m_form->StartStop->text()}),
             (QStringList{"500", ".bmp", "VideoBasename", "Filename to Save", "Start"}));
    QCOMPARE(m_form->Timer1->interval(), 500);
}

// What the object says of itself is what the installed files say to D-Bus tools.
void TestRemote::interfacesAsInstalled()
{
    const Finished live = run(QStringLiteral("gdbus"), {QStringLiteral("introspect"), QStringLiteral("--session"),
                                                        QStringLiteral("--dest"), windowServiceName(),
                                                        QStringLiteral("--object-path"), seriesObjectPath(),
                                                        QStringLiteral("--xml")});
    QCOMPARE(live.exitCode, 0);
    for (const char *interface : {kSeriesInterface, kSetupInterface}) {
        QFile installed(QStringLiteral(PIR_INTERFACE_DIR "/%1.xml").arg(QLatin1String(interface)));
        QVERIFY(installed.open(QIODevice::ReadOnly));
        const QStringList described =
            interfaceMembers(QString::fromUtf8(installed.readAll()), QLatin1String(interface));
        QVERIFY(described.size() >= 5);
        QCOMPARE(interfaceMembers(live.out, QLatin1String(interface)), described);
    }
}

// A second window of the same user says in one line that it cannot have the name; the first
// keeps it.
void TestRemote::secondWindowKeepsOffTheName()
{
    QProcess second;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    second.setProcessEnvironment(environment);
    second.start(QStringLiteral(PIR_APP_PATH), {QStringLiteral("--driver"), m_driver});
    QString err;
    QTRY_VERIFY_WITH_TIMEOUT((err += QString::fromUtf8(second.readAllStandardError())).contains(u'\n') &&
                                 err.contains(QStringLiteral("another window")),
                             20000);
    second.kill(); // our own child, by its PID
    second.waitForFinished();
    const QString line = QStringLiteral("pictures-in-a-row: another window has %1 on the session bus; scripts cannot "
                                        "reach this one.\n")
                             .arg(windowServiceName());
    QCOMPARE(err.count(QStringLiteral("another window")), 1);
    QVERIFY2(err.contains(line), qPrintable(err));
    const QDBusConnection bus = QDBusConnection::sessionBus();
    QCOMPARE(bus.interface()->serviceOwner(windowServiceName()).value(), bus.baseService());
}

// The engine's word of a lost camera and of missed ticks reaches a client subscribed to every
// signal of the window, and so does a series that ends with a picture it could not save.
void TestRemote::engineEventsReachScripts()
{
    QProcess monitor;
    monitor.start(QStringLiteral("gdbus"), {QStringLiteral("monitor"), QStringLiteral("--session"),
                                            QStringLiteral("--dest"), windowServiceName()});
    QString heard;
    QTRY_VERIFY_WITH_TIMEOUT((heard += QString::fromUtf8(monitor.readAllStandardOutput())).contains(u"is owned by"),
                             10000);
    int saves = 0;
    m_form->engine().setSaver([&saves](const Frame &, const QString &, const ImageMetadata &, bool) {
        return ++saves < 3 ? Status::success() : Status::failure(QStringLiteral("the disk is gone"));
    });
    m_form->Timer1->setInterval(200);
    SeriesControl &window = *m_form;
    QCOMPARE(window.requestDirectory(m_out), QString());
    QCOMPARE(window.requestBaseName(QStringLiteral("lost")), QString());
    QCOMPARE(window.requestStart(), QString());
    Q_EMIT m_form->engine().cameraAway(QStringLiteral("unplugged"));
    Q_EMIT m_form->engine().ticksMissedChanged(3);
    Q_EMIT m_form->engine().cameraBack();
    QTRY_VERIFY_WITH_TIMEOUT((heard += QString::fromUtf8(monitor.readAllStandardOutput())).contains(u".Stopped ("),
                             10000);
    monitor.kill(); // our own child, by its PID
    monitor.waitForFinished();
    const QString series = QLatin1String(kSeriesInterface);
    for (const QString &said : {series + ".CameraLost ('unplugged',)", series + ".CameraBack ()",
                                QStringLiteral("'TicksMissed': <uint32 3>"),
                                series + QStringLiteral(".Stopped (false, 'Could not save"),
                                QStringLiteral(", uint32 2, uint32 3)\n")})
        QVERIFY2(heard.contains(said), qPrintable(said + QStringLiteral(" not in:\n") + heard));
    QCOMPARE(m_messages.size(), 1); // the window's own message, for the person at it
}

// A record, watched and stopped by `control --pid`: the watch's lines are the log's rows.
void TestRemote::recordWatchedAndStoppedByControl()
{
    QProcess record;
    record.start(QStringLiteral(PIR_APP_PATH),
                 {QStringLiteral("record"), QStringLiteral("--driver"), m_driver, QStringLiteral("--dir"), m_out,
                  QStringLiteral("--name"), QStringLiteral("rec"), QStringLiteral("--interval"), QStringLiteral("50"),
                  QStringLiteral("--add"), QStringLiteral("number"), QStringLiteral("--quiet")});
    QVERIFY(record.waitForStarted());
    const QString name = recordServiceName(record.processId());
    const QString pid = QString::number(record.processId());
    QTRY_VERIFY_WITH_TIMEOUT(QDBusConnection::sessionBus().interface()->isServiceRegistered(name), 10000);
    QProcess watch;
    watch.start(QStringLiteral(PIR_APP_PATH),
                {QStringLiteral("control"), QStringLiteral("--pid"), pid, QStringLiteral("watch")});
    QString lines;
    QTRY_VERIFY_WITH_TIMEOUT((lines += QString::fromUtf8(watch.readAllStandardOutput())).count(u'\n') >= 5, 20000);

    const Finished start = control({QStringLiteral("--pid"), pid, QStringLiteral("start")});
    QCOMPARE(start.exitCode, 1);
    QCOMPARE(start.err, QLatin1String(kSeriesRunningMessage) + QLatin1Char('\n'));
    QCOMPARE(control({QStringLiteral("--pid"), pid, QStringLiteral("set"), QStringLiteral("interval"),
                      QStringLiteral("100")})
                 .exitCode,
             2);
    QCOMPARE(control({QStringLiteral("--pid"), pid, QStringLiteral("stop")}).exitCode, 0);
    const Finished watched = finish(watch);
    QCOMPARE(watched.exitCode, 0);
    const Finished recorded = finish(record);
    QCOMPARE(recorded.exitCode, 0);
    QCOMPARE(control({QStringLiteral("--pid"), pid, QStringLiteral("status")}).exitCode, 3);

    const QString logPath = recorded.out.trimmed();
    QFile log(logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString header =
        QStringLiteral("\n# remote control: %1 %2 on the session bus\n").arg(name, seriesObjectPath());
    QVERIFY(log.readAll().contains(header.toUtf8()));
    const QMap<qint64, QStringList> rows = logRows(logPath);
    const QStringList watchLines = (lines + watched.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY(watchLines.size() >= 5);
    QCOMPARE(watchLines.last().section(QLatin1Char(' '), 0, 0).toLongLong(), rows.lastKey());
    for (const QString &line : watchLines) {
        const QStringList f = line.split(QLatin1Char(' '));
        QCOMPARE(rows.value(f[0].toLongLong()), (QStringList{QFileInfo(f[3]).fileName(), f[1], f[2]}));
    }
}

// Without a session bus, as over SSH or in CI: the series runs and its log says why scripts
// cannot reach it; `control` has nothing to talk to.
void TestRemote::withoutSessionBus()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QLatin1String(name));
    const QStringList arguments = {QStringLiteral("record"), QStringLiteral("--driver"), m_driver,
                                   QStringLiteral("--dir"),  m_out,  QStringLiteral("--count"),
                                   QStringLiteral("2"),      QStringLiteral("--quiet")};
    const Finished record = run(QStringLiteral(PIR_APP_PATH), arguments, environment);
    QCOMPARE(record.exitCode, 0);
    QFile log(record.out.trimmed());
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("\n# remote control: off, no session bus: "));
    const Finished status = run(QStringLiteral(PIR_APP_PATH), {QStringLiteral("control"), QStringLiteral("status")},
                                environment);
    QCOMPARE(status.exitCode, 3);
    QVERIFY2(status.err.startsWith(QStringLiteral("No session bus: ")), qPrintable(status.err));
}

QTEST_MAIN(TestRemote)
#include "test_remote.moc"
