#include "analog/simulated_card.h"
#include "picture_files/image_files.h"
#include "ui/form1.h"
#include "ui/message_box.h"
#include "test_files.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

class TestForm1SeriesLog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void logMatchesTheSeries();
    void failedSaveIsRecorded();
    void logBesideUnusualNames();
    void unwritableLogWarnsOnceAndPicturesGoOn();
    void picturesCarryTheirRow_data();
    void picturesCarryTheirRow();
    void unusableDirectoryGivesOneMessage_data();
    void unusableDirectoryGivesOneMessage();
    void replacedPicturesAreRecorded();
    void picturesAreSyncedAtStopAndExit();

private:
    void runSeries(const QString &base, int pictures);
    QStringList logLines(const QString &dir) const;

    std::unique_ptr<Form1> m_form;
    std::unique_ptr<QTemporaryDir> m_dir;
    SimulatedCard *m_card = nullptr;
    QStringList m_messages;
};

void TestForm1SeriesLog::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_messages.clear();
    setMessageSink([this](const QString &text) { m_messages << text; });
    const QString driver = m_dir->filePath(QStringLiteral("camera.vin"));
    QVERIFY(!writeTextFile(driver, "source = test-pattern\nwidth = 64\nheight = 48\npixel-format = Mono16\n")
                 .isEmpty());
    auto card = std::make_unique<SimulatedCard>();
    m_card = card.get();
    m_form = std::make_unique<Form1>(driver, std::move(card));
    m_form->state().SaveDirectory = m_dir->path() + QStringLiteral("/out/");
    m_form->NumberCheck->setChecked(true);
    m_form->Timer1->setInterval(50);
}

void TestForm1SeriesLog::cleanup()
{
    m_form.reset();
    setMessageSink({});
}

void TestForm1SeriesLog::runSeries(const QString &base, int pictures)
{
    m_form->SaveText->setText(base);
    m_form->StartStop->click();
    QTRY_VERIFY(m_form->state().FrameCounter > pictures || m_form->state().Recording == RecordingState::Idle);
    if (m_form->state().Recording == RecordingState::Recording)
        m_form->StartStop->click();
    QTRY_COMPARE(m_form->state().Recording, RecordingState::Idle);
    // The last pictures and the end of the log are written after Stop.
    QVERIFY(m_form->engine().waitForSync(5000));
}

QStringList TestForm1SeriesLog::logLines(const QString &dir) const
{
    const QStringList logs = QDir(dir).entryList({QStringLiteral("*.csv")}, QDir::Files);
    if (logs.size() != 1)
        return {};
    QFile file(dir + QLatin1Char('/') + logs.first());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void TestForm1SeriesLog::logMatchesTheSeries()
{
    m_card->setCount(0, 2048);
    m_form->Channel1Check->setChecked(false);
    runSeries(QStringLiteral("Probe"), 4);
    const QString out = m_dir->path() + QStringLiteral("/out");
    const QStringList logs = QDir(out).entryList({QStringLiteral("Probe_*.csv")}, QDir::Files);
    QCOMPARE(logs.size(), 1);
    QVERIFY(QRegularExpression(QStringLiteral("^Probe_\\d{8}-\\d{6}\\.csv$")).match(logs.first()).hasMatch());
    const QStringList lines = logLines(out);
    const QStringList comments = lines.filter(QRegularExpression(QStringLiteral("^#")));
    QCOMPARE(comments.size(), 12);
    QVERIFY(comments[0].startsWith(QStringLiteral("# Pictures in a row")));
    QVERIFY(QRegularExpression(QStringLiteral("^# start: \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(Z|[+-]\\d\\d:\\d\\d)$"))
                .match(comments[1])
                .hasMatch());
    QVERIFY(comments[2].contains(QStringLiteral("source test-pattern, 64x48, Mono16")));
    QCOMPARE(comments[3], QStringLiteral("# card: simulated"));
    QCOMPARE(comments[4], QStringLiteral("# interval: 50 ms"));
    QCOMPARE(comments[5], QStringLiteral("# options: number, time, channel 0"));
    QCOMPARE(comments[6], QStringLiteral("# settings: exposure unknown, gain unknown, frame rate 25 frames/s, pixel "
                                         "format Mono16, 16 significant bits, trigger free-running"));
    QCOMPARE(comments[7], QStringLiteral("# bits: the camera gives 16 significant bits; .bmp pictures keep the upper 8"));
    QVERIFY2(comments[8].startsWith(QStringLiteral("# schedule: ")), qPrintable(comments[8]));
    // Five seconds of 64x48 Mono16 pictures at 50 ms fit well in memory.
    QCOMPARE(comments[9], QStringLiteral("# queue: 100 pictures, 5 s of the series (time bound; memory bound 512 MiB not "
                                         "reached)"));
    QCOMPARE(lines[10], QStringLiteral("picture,file,scheduled_ms,stopwatch_ms,lateness_ms,channel0_count,channel0_mA,"
                                      "channel1_count,channel1_V,result,bytes,replaced,frame_id,frame_ms,frame_age_ms,"
                                      "exposure_us,gain"));
    const QStringList rows = lines.filter(QRegularExpression(QStringLiteral("^\\d+,")));
    QVERIFY(rows.size() >= 4);
    // The end: every tick kept. The test pattern makes each picture for its tick, so it does not
    // stream through the series and has no frames to count.
    QVERIFY2(QRegularExpression(QStringLiteral("^# end: \\S+, %1 pictures, 0 ticks missed$").arg(rows.size()))
                 .match(comments[10])
                 .hasMatch(),
             qPrintable(comments[10]));
    QVERIFY2(comments[11].startsWith(QStringLiteral("# synced ")), qPrintable(comments[11]));
    double lastTime = -1;
    qint64 lastFrame = 0;
    for (int i = 0; i < rows.size(); ++i) {
        const QStringList f = rows[i].split(QLatin1Char(','));
        QCOMPARE(f.size(), 17);
        // Each picture is a frame of its own, captured before the step took it.
        QVERIFY(f[12].toLongLong() > lastFrame);
        lastFrame = f[12].toLongLong();
        QVERIFY(f[14].toDouble() >= 0);
        QCOMPARE(f[13].toDouble() + f[14].toDouble() >= f[3].toDouble(), true);
        QCOMPARE(f[0].toInt(), i + 1);
        // The name beside the log, without the folder both are in.
        QVERIFY2(QRegularExpression(QStringLiteral("^Probe_%1_\\d{7}msec_106_mA\\.bmp$").arg(i + 1, 3, 10, QLatin1Char('0')))
                     .match(f[1])
                     .hasMatch(),
                 qPrintable(f[1]));
        QCOMPARE(QFileInfo(out + QLatin1Char('/') + f[1]).size(), f[10].toLongLong());
        QCOMPARE(f[2].toDouble(), 50.0 * i);
        const double time = f[3].toDouble();
        QVERIFY(time > lastTime);
        lastTime = time;
        QCOMPARE(f[4].toDouble(), QString::number(time - 50.0 * i, 'f', 3).toDouble());
        QVERIFY(f[4].toDouble() > -1.0); // never early
        QCOMPARE(f[5], QStringLiteral("2048"));
        QCOMPARE(f[6].toDouble(), 106.0);
        QVERIFY(f[7].isEmpty() && f[8].isEmpty());
        QCOMPARE(f[9], QStringLiteral("ok"));
        QVERIFY(f[11].isEmpty());
    }
}

void TestForm1SeriesLog::failedSaveIsRecorded()
{
    m_card->setFailure(4);
    m_form->SaveText->setText(QStringLiteral("Gone"));
    m_form->StartStop->click();
    const QString out = m_dir->path() + QStringLiteral("/out");
    QTRY_VERIFY(!QDir(out).entryList({QStringLiteral("*.bmp")}, QDir::Files).isEmpty());
    QVERIFY(QDir().rename(out, m_dir->path() + QStringLiteral("/moved")));
    QFile blocker(out);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QTRY_COMPARE(m_form->state().Recording, RecordingState::Idle);
    QVERIFY(m_form->engine().waitForSync(5000));
    const QStringList rows =
        logLines(m_dir->path() + QStringLiteral("/moved")).filter(QRegularExpression(QStringLiteral("^\\d+,")));
    QVERIFY(rows.size() >= 2);
    const QStringList first = rows.first().split(QLatin1Char(','));
    QCOMPARE(first[5], QStringLiteral("ERR"));
    QCOMPARE(first[9], QStringLiteral("ok"));
    const QStringList last = rows.last().split(QLatin1Char(','));
    QVERIFY2(last[9] != QLatin1String("ok"), qPrintable(rows.last()));
    // The reason, quoted, may hold commas: the bytes are counted from the end.
    QCOMPARE(rows.last().section(QLatin1Char(','), -7, -7), QStringLiteral("0"));
    QCOMPARE(m_messages.size(), 1);
    QVERIFY(m_messages.first().startsWith(QStringLiteral("Could not save the picture:")));
}

void TestForm1SeriesLog::logBesideUnusualNames()
{
    const QString dir = m_dir->path() + QStringLiteral("/Messreihe Größe, \"B\"/");
    m_form->state().SaveDirectory = dir;
    runSeries(QStringLiteral("Zwölf, \"Äpfel\""), 2);
    QVERIFY(m_messages.isEmpty());
    const QStringList lines = logLines(dir);
    const QString first = lines.value(lines.indexOf(QRegularExpression(QStringLiteral("picture,.*"))) + 1);
    // A name with a comma and quotes is one quoted field.
    QVERIFY2(first.startsWith(QStringLiteral("1,\"Zwölf, \"\"Äpfel\"\"_001_")), qPrintable(first));
}

void TestForm1SeriesLog::unwritableLogWarnsOnceAndPicturesGoOn()
{
    // A folder where the log's name should be makes the log unwritable.
    const QDateTime now = QDateTime::currentDateTime();
    for (int s = 0; s <= 3; ++s)
        QDir().mkpath(seriesLogPath(m_form->state().SaveDirectory, QStringLiteral("Blocked"), now.addSecs(s)));
    runSeries(QStringLiteral("Blocked"), 3);
    QTRY_COMPARE(m_messages.size(), 1);
    QVERIFY(m_messages.first().startsWith(QStringLiteral("The series log cannot be written:")));
    const QStringList pictures = QDir(m_form->state().SaveDirectory).entryList({QStringLiteral("Blocked_*.bmp")}, QDir::Files);
    QVERIFY(pictures.size() >= 3);
}

void TestForm1SeriesLog::picturesCarryTheirRow_data()
{
    QTest::addColumn<QString>("extension");
    QTest::newRow(".tif") << QStringLiteral(".tif");
    QTest::newRow(".mio") << QStringLiteral(".mio");
}

void TestForm1SeriesLog::picturesCarryTheirRow()
{
    QFETCH(QString, extension);
    m_card->setCount(0, 2048);
    m_form->FileType->setCurrentIndex(m_form->FileType->findText(extension));
    Q_EMIT m_form->FileType->activated(m_form->FileType->currentIndex());
    runSeries(QStringLiteral("Record"), 3);
    const QStringList rows =
        logLines(m_form->state().SaveDirectory).filter(QRegularExpression(QStringLiteral("^\\d+,")));
    QVERIFY(rows.size() >= 3);
    for (const QString &line : rows) {
        const QStringList f = line.split(QLatin1Char(','));
        QVERIFY2(f[1].endsWith(extension), qPrintable(f[1]));
        Frame frame;
        ImageMetadata read;
        const Status loaded = loadImage(m_form->state().SaveDirectory + f[1], frame, read);
        QVERIFY2(loaded.ok(), qPrintable(loaded.reason()));
        QVERIFY(read.stopwatchMs && read.channel0 && read.channel1);
        // The log and the description round to the same three decimals; .mio keeps the time whole.
        QCOMPARE(QString::number(*read.stopwatchMs, 'f', 3), f[3]);
        QVERIFY(read.frameMs);
        QCOMPARE(QString::number(*read.frameMs, 'f', 3), f[13]);
        QCOMPARE(QString::number(read.channel0->count), f[5]);
        QCOMPARE(read.channel0->value, f[6].toDouble());
        QCOMPARE(QString::number(read.channel1->count), f[7]);
        QCOMPARE(read.channel1->value, f[8].toDouble());
        if (extension == u".tif") {
            QCOMPARE(QString::number(*read.picture), f[0]);
            QCOMPARE(*read.scheduledMs, f[2].toDouble());
        }
    }
}

// When no picture can be saved, the log's warning that "the pictures are still saved" would be
// untrue: the save failure is the one message.
void TestForm1SeriesLog::unusableDirectoryGivesOneMessage_data()
{
    QTest::addColumn<QString>("base");
    QTest::newRow("a file in the way of a folder") << "blocker/Probe";
    QTest::newRow("a name too long") << QString(300, QLatin1Char('n'));
}

void TestForm1SeriesLog::unusableDirectoryGivesOneMessage()
{
    QFETCH(QString, base);
    QDir().mkpath(m_form->state().SaveDirectory);
    QFile blocker(m_form->state().SaveDirectory + QStringLiteral("blocker"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    runSeries(base, 1);
    QTest::qWait(50); // a warning would come after the step
    QCOMPARE(m_messages.size(), 1);
    QVERIFY2(m_messages.first().startsWith(QStringLiteral("Could not save the picture:")), qPrintable(m_messages.first()));
}

void TestForm1SeriesLog::replacedPicturesAreRecorded()
{
    m_form->NumberCheck->setChecked(false);
    m_form->TimeCheck->setChecked(false);
    m_form->Channel0Check->setChecked(false);
    m_form->Channel1Check->setChecked(false);
    runSeries(QStringLiteral("Current"), 3);
    const QStringList lines = logLines(m_form->state().SaveDirectory);
    QVERIFY(lines.contains(
        QStringLiteral("# names: no number or time in the names: every picture replaces the previous one")));
    const QStringList rows = lines.filter(QRegularExpression(QStringLiteral("^\\d+,")));
    QVERIFY(rows.size() >= 3);
    for (int i = 0; i < rows.size(); ++i)
        QCOMPARE(rows[i].section(QLatin1Char(','), 11, 11), i == 0 ? QString() : QString::number(i));
}

// At Stop the pictures go to the disk in the background; closing the window waits for that.
void TestForm1SeriesLog::picturesAreSyncedAtStopAndExit()
{
    const QRegularExpression synced(QStringLiteral("^# synced \\d{4}-\\d\\d-\\d\\dT[0-9:.]+(Z|[+-]\\d\\d:\\d\\d)$"));
    const QString out = m_form->state().SaveDirectory;
    runSeries(QStringLiteral("Kept"), 2);
    QTRY_VERIFY(synced.match(logLines(out).constLast()).hasMatch());
    QVERIFY(QDir(out).removeRecursively());
    runSeries(QStringLiteral("Closed"), 2);
    m_form.reset();
    QVERIFY(synced.match(logLines(out).constLast()).hasMatch());
}

QTEST_MAIN(TestForm1SeriesLog)
#include "test_form1_series_log.moc"
