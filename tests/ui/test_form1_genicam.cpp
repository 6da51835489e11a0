// A GigE Vision camera through the whole window: Aravis's camera emulator, reached only
// inside the private network namespace that scripts/netns-run makes.

#include "private_network.h"
#include "analog/simulated_card.h"
#include "ui/display_control.h"
#include "ui/image_control.h"
#include "picture_files/image_files.h"
#include "ui/form1.h"
#include "ui/message_box.h"
#include "base/stopwatch.h"
#include "recording/camera_gap.h"
#include "test_files.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <memory>

class TestForm1Genicam : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void seriesKeepsPaceWithTheStream_data();
    void seriesKeepsPaceWithTheStream();
    void cameraAwayForThreeSeconds_data();
    void cameraAwayForThreeSeconds();
    void lostLivePictureComesBackThroughOpenImage();

private:
    QStringList pictures() const;
    QStringList logLines() const;
    bool startOwnEmulator();

    QTemporaryDir m_dir;
    QString m_driver;
    std::unique_ptr<Form1> m_form;
    QStringList m_messages;
    QProcess m_emulator;
};

void TestForm1Genicam::initTestCase()
{
    if (!insidePrivateNetwork())
        QSKIP("GenICam discovery broadcasts on every network: run only through scripts/netns-run");
    QVERIFY(m_dir.isValid()); // init() empties a folder inside it
    m_driver = m_dir.filePath(QStringLiteral("emulator.vin"));
    // Free-running, whatever a test before left the emulator at.
    QVERIFY(!writeTextFile(m_driver, "source = genicam\ncamera = 127.0.0.1\nwidth = 512\nheight = 512\n"
                                     "pixel-format = Mono8\ntrigger = free-running\n")
                 .isEmpty());
}

void TestForm1Genicam::init()
{
    m_messages.clear();
    setMessageSink([this](const QString &text) { m_messages << text; });
    m_form = std::make_unique<Form1>(m_driver, std::make_unique<SimulatedCard>());
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    m_form->state().SaveDirectory = m_dir.path() + QStringLiteral("/out/");
    m_form->NumberCheck->setChecked(true);
    m_form->Channel0Check->setChecked(false);
    m_form->Channel1Check->setChecked(false);
    m_form->Timer1->setInterval(100);
    QDir(m_dir.path() + QStringLiteral("/out")).removeRecursively();
}

void TestForm1Genicam::cleanup()
{
    m_form.reset();
    // An emulator a test started goes with it.
    if (m_emulator.state() != QProcess::NotRunning) {
        m_emulator.kill();
        m_emulator.waitForFinished();
    }
    setMessageSink({});
}

void TestForm1Genicam::cleanupTestCase()
{
    if (m_emulator.state() != QProcess::NotRunning) {
        m_emulator.kill();
        m_emulator.waitForFinished();
    }
}

QStringList TestForm1Genicam::pictures() const
{
    return QDir(m_dir.path() + QStringLiteral("/out")).entryList({QStringLiteral("*.bmp")}, QDir::Files, QDir::Name);
}

QStringList TestForm1Genicam::logLines() const
{
    // The end of the log is written after Stop, once the last pictures are.
    m_form->engine().waitForSync(5000);
    QFile log(m_form->engine().logPath());
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool TestForm1Genicam::startOwnEmulator()
{
    m_emulator.start(QStringLiteral("arv-fake-gv-camera-0.8"), {QStringLiteral("-i"), QStringLiteral("127.0.0.1")});
    if (!m_emulator.waitForStarted())
        return false;
    QTest::qWait(1000); // until it listens
    return true;
}

// The camera streams through the series: each tick takes the frame captured nearest it, so
// every picture is a frame of its own. A camera faster than the interval keeps the schedule; one
// slower than it leaves about every other tick without a frame.
// A camera on a software trigger takes each tick's picture when told, after the tick; its live
// picture runs on triggers of its own before and after the series. A camera that streams only
// from Start on still gives picture 1 at Start.
void TestForm1Genicam::seriesKeepsPaceWithTheStream_data()
{
    QTest::addColumn<int>("interval");
    QTest::addColumn<double>("frameRate");
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<bool>("live"); // the live picture runs before Start
    QTest::newRow("50 ms from 25 fps") << 50 << 25.0 << "free-running" << true;
    QTest::newRow("100 ms from 5 fps") << 100 << 5.0 << "free-running" << true;
    QTest::newRow("100 ms from 5 fps, streaming from Start") << 100 << 5.0 << "free-running" << false;
    QTest::newRow("100 ms, software trigger") << 100 << 25.0 << "software" << true;
}

void TestForm1Genicam::seriesKeepsPaceWithTheStream()
{
    QFETCH(int, interval);
    QFETCH(double, frameRate);
    QFETCH(QString, trigger);
    QFETCH(bool, live);
    const QString driver = m_dir.filePath(QStringLiteral("rate.vin"));
    QVERIFY(!writeTextFile(driver, QStringLiteral("source = genicam\ncamera = 127.0.0.1\nwidth = 512\nheight = 512\n"
                                                  "frame-rate = %1\ntrigger = %2\n")
                                       .arg(frameRate)
                                       .arg(trigger))
                 .isEmpty());
    m_form->CVimage1->setFileName(driver);
    m_form->SetupUI();
    m_form->LiveCheck1->setChecked(live);
    m_form->CVimage1->setLive(live);
    m_form->Timer1->setInterval(interval);
    Form1 &f = *m_form;
    QVERIFY2(f.CVimage1->imageHandle() != 0, qPrintable(f.CVimage1->statusText()));
    QTRY_VERIFY_WITH_TIMEOUT(!live || f.CVdisplay1->framesPainted() >= 3, 5000); // live frames arrive
    f.SaveText->setText(QStringLiteral("Gige"));
    f.StartStop->click();
    QVERIFY(f.engine().source().isStreaming() && !f.CVimage1->isLive());
    QTRY_VERIFY_WITH_TIMEOUT(f.state().FrameCounter > 10 || f.state().Recording == RecordingState::Idle, 10000);
    f.StartStop->click();
    const QStringList lines = logLines();
    const QStringList rows = lines.filter(QRegularExpression(QStringLiteral("^\\d+,")));
    QVERIFY(rows.size() >= 10);
    QCOMPARE(rows.first().section(u',', 2, 2), QStringLiteral("0.000"));
    QCOMPARE(lines.filter(QStringLiteral("# schedule: ")).size(), 1);
    qint64 lastFrame = -1;
    double lastFrameMs = -1e9;
    std::vector<double> lateness;
    for (const QString &row : rows) {
        const QStringList field = row.split(QLatin1Char(','));
        lateness.push_back(field[4].toDouble());
        QVERIFY2(field[12].toLongLong() > lastFrame, qPrintable(row));
        lastFrame = field[12].toLongLong();
        // Each picture is the frame captured nearest its tick, within half an interval of it; a
        // triggered one is captured after its own tick, and the one before it before that tick
        // (how long after depends on the emulator, which looks for triggers on a grid of its own).
        const double frameMs = field[13].toDouble();
        const double fromTick = frameMs - field[2].toDouble();
        if (trigger == u"software")
            QVERIFY2(fromTick >= 0 && lastFrameMs < field[2].toDouble(), qPrintable(row));
        else // picture 1's frame may lie half a frame period from Start
            QVERIFY2(std::abs(fromTick) <= std::max<double>(interval, row.startsWith(u"1,") ? 1000 / frameRate : 0) / 2 + 1,
                     qPrintable(row));
        lastFrameMs = frameMs;
    }
    QCOMPARE(lines.filter(QStringLiteral("# settings: ")).value(0).section(QStringLiteral(", trigger "), 1), trigger);
    const QString end = lines.filter(QStringLiteral("# end: ")).value(0);
    const QRegularExpressionMatch missed = QRegularExpression(QStringLiteral(" (\\d+) ticks? missed$")).match(end);
    QVERIFY2(missed.hasMatch(), qPrintable(end));
    std::sort(lateness.begin(), lateness.end());
    if (frameRate * interval >= 1000) {
        // Steps that cost a copy keep to the schedule. A stall of the shared machine may still
        // cost a tick or two (a triggered picture waits up to 40 ms for the emulator's next look
        // at its trigger), far from the every other tick of a step that waits for its own frame.
        QVERIFY2(lateness[lateness.size() / 2] < 10.0, qPrintable(end));
        QVERIFY2(missed.captured(1).toInt() <= rows.size() / 4, qPrintable(end));
    } else { // about every other tick, for want of a new frame
        QVERIFY2(missed.captured(1).toInt() >= rows.size() / 2, qPrintable(end));
    }
    QVERIFY(lines.filter(QRegularExpression(QStringLiteral("^# frames: \\d+ received from the camera, \\d+ lost"))).size() == 1);
    QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join(QLatin1Char('|'))));
    const QStringList files = pictures();
    QVERIFY(files.size() >= 10);
    const QRegularExpression name(QStringLiteral("^Gige_(\\d{3})_(\\d{7})msec\\.bmp$"));
    int lastTime = -1;
    QByteArray lastPixels;
    for (int i = 0; i < files.size(); ++i) {
        const QRegularExpressionMatch m = name.match(files[i]);
        QVERIFY2(m.hasMatch(), qPrintable(files[i]));
        QCOMPARE(m.captured(1).toInt(), i + 1);
        QVERIFY(m.captured(2).toInt() > lastTime);
        lastTime = m.captured(2).toInt();
        Frame frame;
        QVERIFY(loadImage(m_dir.path() + QStringLiteral("/out/") + files[i], frame).ok());
        QCOMPARE(frame.width, 512);
        QVERIFY(frame.data != lastPixels);
        lastPixels = frame.data;
    }
    QTRY_VERIFY(f.CVimage1->isLive()); // back on after the series
    const std::uint64_t painted = f.CVdisplay1->framesPainted();
    QTRY_VERIFY_WITH_TIMEOUT(f.CVdisplay1->framesPainted() >= painted + 3, 5000);
}

void TestForm1Genicam::cameraAwayForThreeSeconds_data()
{
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<bool>("killed"); // else stopped (SIGSTOP) past its heartbeat and continued
    QTest::addColumn<int>("interval");
    QTest::newRow("stopped") << "free-running" << false << 50;
    // A trigger, its frame and the next tick's trigger take more than 50 ms of a loaded machine.
    QTest::newRow("stopped, software trigger") << "software" << false << 100;
    // Last: the emulator of the harness is gone after it.
    QTest::newRow("killed and started again") << "free-running" << true << 50;
}

// A series of 10 s whose camera is away from second 3 to second 6 goes on and ends as
// planned: only the ticks of the gap are missed, and the log says when and why.
void TestForm1Genicam::cameraAwayForThreeSeconds()
{
    QFETCH(QString, trigger);
    QFETCH(bool, killed);
    QFETCH(int, interval);
    Form1 &f = *m_form;
    const QString driver = m_dir.filePath(QStringLiteral("gap.vin"));
    writeTextFile(driver, QStringLiteral("source = genicam\ncamera = 127.0.0.1\nwidth = 512\nheight = 512\n"
                                         "pixel-format = Mono8\ntrigger = %1\n").arg(trigger));
    f.CVimage1->setFileName(driver);
    f.SetupUI();
    QVERIFY2(f.CVimage1->imageHandle() != 0, qPrintable(f.CVimage1->statusText()));
    f.Timer1->setInterval(interval);
    f.engine().setLimits(std::nullopt, 10000.0);
    f.SaveText->setText(QStringLiteral("Gap"));
    f.StartStop->click();
    QTest::qWait(3000);
    const qint64 emulator = qEnvironmentVariableIntValue("PIR_EMULATOR_PID");
    double awayMs = 0, backMs = 0;
    StopwatchRead(f.state().StopwatchHandle, 0, awayMs);
    QCOMPARE(::kill(emulator, killed ? SIGKILL : SIGSTOP), 0);
    QTest::qWait(3000);
    StopwatchRead(f.state().StopwatchHandle, 0, backMs);
    if (killed)
        QVERIFY(startOwnEmulator());
    else
        QCOMPARE(::kill(emulator, SIGCONT), 0);
    QTRY_COMPARE_WITH_TIMEOUT(f.state().Recording, RecordingState::Idle, 15000);
    const CameraGap gap = readCameraGap(logLines(), interval);
    QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join(u'\n')));
    QVERIFY2(gap.problem.isEmpty(), qPrintable(gap.problem));
    // From the moment the camera fell silent; back soon after it answers again.
    QVERIFY2(std::abs(gap.lostMs - awayMs) <= 2 * interval, qPrintable(QString::number(awayMs)));
    QVERIFY2(gap.backMs > backMs && gap.backMs < backMs + 2500, qPrintable(QString::number(backMs)));
    qInfo("away %.0f ms; lost %lld to %lld ms: %lld ticks missed (%lld beside the gap), %.1f a second of the gap",
          backMs - awayMs, gap.lostMs, gap.backMs, gap.missedTicks, qint64(gap.strays.size()),
          (gap.missedTicks - gap.strays.size()) * 1000.0 / (backMs - awayMs));
}

void TestForm1Genicam::lostLivePictureComesBackThroughOpenImage()
{
    Form1 &f = *m_form; // the emulator of the harness is gone: nothing answers
    QCOMPARE(f.CVimage1->imageHandle(), quintptr(0));
    QVERIFY(!f.LiveCheck1->isEnabled());

    QVERIFY(startOwnEmulator());
    f.CVimage1->setFileName(m_driver); // what "Open Image" does with the chosen driver file
    f.SetupUI();
    f.CVimage1->setLive(f.LiveCheck1->isChecked());
    QVERIFY2(f.CVimage1->imageHandle() != 0, qPrintable(f.CVimage1->statusText()));
    QVERIFY(f.LiveCheck1->isEnabled());
    const std::uint64_t before = f.CVdisplay1->framesPainted();
    QTRY_VERIFY_WITH_TIMEOUT(f.CVdisplay1->framesPainted() >= before + 3, 5000);

    // Lost while live: the picture stops and the display says why.
    m_emulator.kill();
    m_emulator.waitForFinished();
    QTRY_COMPARE_WITH_TIMEOUT(f.CVimage1->imageHandle(), quintptr(0), 10000);
    QCOMPARE(f.CVdisplay1->imageHandle(), quintptr(0));
    QVERIFY(f.CVimage1->statusText().contains(QStringLiteral("lost"), Qt::CaseInsensitive));
    QVERIFY(m_messages.isEmpty());
}

QTEST_MAIN(TestForm1Genicam)
#include "test_form1_genicam.moc"
