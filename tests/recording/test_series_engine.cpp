// The series engine on its own, as the `record` command drives it: its schedule on a clock the
// test moves, a camera that stalls or fails when told, and a writer that can be held up.
#include "analog/simulated_card.h"
#include "base/stopwatch.h"
#include "cameras/camera.h"
#include "recording/series_engine.h"
#include "recording/series_setup.h"
#include "test_files.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>

namespace {

constexpr std::int64_t kMs = 1'000'000;
using TickMs = QMap<int, int>;
constexpr std::int64_t kStartNs = 1'000'000'000'000;

// A clock that jumps to every deadline at once, late by as much as the test asks for the tick
// that deadline belongs to.
class JumpingClock : public SeriesClock
{
public:
    std::int64_t now() const override { return m_now.load(); }
    bool sleepUntil(std::int64_t deadlineNs, std::unique_lock<std::mutex> &, std::condition_variable &,
                    const bool &stop) override
    {
        if (stop)
            return false;
        const std::int64_t tick = (deadlineNs - kStartNs) / m_intervalNs;
        m_now = std::max(m_now.load(), deadlineNs + (m_lateMs.count(tick) ? m_lateMs.at(tick) * kMs : 0));
        return true;
    }
    void advance(std::int64_t ns) { m_now += ns; }

    std::atomic<std::int64_t> m_now{kStartNs};
    std::int64_t m_intervalNs = 50 * kMs;
    std::map<std::int64_t, std::int64_t> m_lateMs; // tick -> how late the schedule wakes for it
};

// A camera whose pictures take as long on the test's clock, or fail, as the test says.
class PlannedCamera : public Camera
{
public:
    explicit PlannedCamera(JumpingClock &clock) : m_clock(clock) {}
    QString description() const override { return QStringLiteral("planned"); }
    CameraIdentity identity() const override { return {QStringLiteral("test"), {}, {}, {}}; }
    Status open(const DriverFile &) override { return Status::success(); }
    Status startLive() override { return Status::success(); }
    void stopLive() override {}
    bool isLive() const override { return false; }
    Status snap(Frame &out) override
    {
        out = Frame::allocate(8, 8, PixelFormat::Mono8);
        return Status::success();
    }
    CaptureResult capture(std::int64_t tickNs, std::int64_t, Frame &out) override
    {
        const std::int64_t tick = (tickNs - kStartNs) / m_clock.m_intervalNs;
        if (tick == m_failAt) {
            markLost(QStringLiteral("the camera stopped answering"));
            return {CaptureOutcome::Lost, lostReason()};
        }
        if (tick == m_waitAt) // for a frame that does not come until Stop ends the wait
            return tickResult(frameResult(m_slot.takeNewest(FrameSlot::Clock::now() + std::chrono::seconds(20), out), {}),
                              out);
        m_clock.advance(m_takesMs.count(tick) ? m_takesMs.at(tick) * kMs : 0);
        if (tick == m_noFrameAt)
            return {CaptureOutcome::NoFrame, {}};
        snap(out);
        out.captureNs = tickNs;
        return {};
    }

    JumpingClock &m_clock;
    std::map<std::int64_t, std::int64_t> m_takesMs; // tick -> how long its capture takes
    std::int64_t m_failAt = -1;
    std::int64_t m_noFrameAt = -1;
    std::int64_t m_waitAt = -1;
};

// Holds the writer up until released.
struct Latch
{
    std::mutex mutex;
    std::condition_variable opened;
    bool open = true;
    void wait()
    {
        std::unique_lock lock(mutex);
        opened.wait(lock, [this] { return open; });
    }
    void release()
    {
        {
            const std::lock_guard lock(mutex);
            open = true;
        }
        opened.notify_all();
    }
};

} // namespace

class TestSeriesEngine : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void stopWhenAPictureIsReported();
    void shutDownEndsTheSeriesQuietly();
    void scheduleKeepsTheGrid_data();
    void scheduleKeepsTheGrid();
    void slowPatternAtItsInterval();
    void neverReplacesAFileFromBefore_data();
    void neverReplacesAFileFromBefore();
    void stopWhileTickZeroWaits();
    void savedFramesGoOneAtATime();
    void shutDownNamesTheUnsavedPictures();

private:
    QStringList logRows() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SeriesEngine> m_engine;
    std::unique_ptr<SeriesSetup> m_setup;
};

void TestSeriesEngine::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    const QString driver =
        writeTextFile(m_dir->filePath(QStringLiteral("camera.vin")), "source = test-pattern\nwidth = 32\nheight = 16\n");
    m_engine = std::make_unique<SeriesEngine>();
    m_setup = std::make_unique<SeriesSetup>(*m_engine);
    m_setup->open(driver, std::make_unique<SimulatedCard>());
    m_engine->setOptions(NameOptions{true, false, false, false});
    m_engine->timer().setInterval(50);
    CaptureState &s = m_engine->state();
    s.SaveDirectory = m_dir->path() + QStringLiteral("/out/");
    s.BaseName = QStringLiteral("E");
    s.FileExtension = QStringLiteral(".bmp");
}

void TestSeriesEngine::cleanup()
{
    m_engine->shutDown();
    m_setup.reset();
    m_engine.reset();
}

QStringList TestSeriesEngine::logRows() const
{
    QFile log(m_engine->logPath());
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// A caller that counts pictures stops the series when it hears of the last one.
void TestSeriesEngine::stopWhenAPictureIsReported()
{
    connect(m_engine.get(), &SeriesEngine::pictureSaved, this, [this](const StepReport &report) {
        if (report.picture == 3)
            m_engine->stop();
    });
    m_engine->start();
    QTRY_VERIFY(!m_engine->isRecording());
    QVERIFY(m_engine->waitForSync(5000));
    QCOMPARE(QDir(m_engine->state().SaveDirectory).entryList({QStringLiteral("*.bmp")}).size(), 3);
    QCOMPARE(m_engine->state().FrameCounter, 1);
}

// The program's end takes no further picture and does not prepare another series, but the
// pictures taken reach the disk before it returns.
void TestSeriesEngine::shutDownEndsTheSeriesQuietly()
{
    QSignalSpy stopped(m_engine.get(), &SeriesEngine::stopped);
    m_engine->start();
    // At least: a poll that comes late would never see the counter at exactly 3.
    QTRY_VERIFY(m_engine->state().FrameCounter >= 3);
    m_engine->shutDown();
    QVERIFY(!m_engine->isRecording());
    QVERIFY(!m_engine->timer().isActive());
    QCOMPARE(stopped.size(), 0);
    const QStringList lines = logRows();
    QVERIFY(!lines.isEmpty());
    QVERIFY(lines.last().startsWith(QStringLiteral("# synced ")));
}

// The grid of a 50 ms series on the test's clock: pictures fall on it whatever held a tick up,
// and the ticks that got no picture are counted, no more and no fewer.
void TestSeriesEngine::scheduleKeepsTheGrid_data()
{
    QTest::addColumn<TickMs>("captureTakes"); // tick -> ms its capture takes
    QTest::addColumn<TickMs>("wakesLate");    // tick -> ms the schedule wakes late for it
    QTest::addColumn<int>("failAt");                  // the tick whose capture fails; -1 none
    QTest::addColumn<int>("noFrameAt");               // the tick the camera has no frame for
    QTest::addColumn<int>("queueBound");              // pictures; 0: the default
    QTest::addColumn<bool>("holdWriter");             // the disk stalls until the series is over
    QTest::addColumn<int>("ticks");                   // the series runs this many ticks
    QTest::addColumn<QList<int>>("scheduled");        // of the pictures taken, in ms
    QTest::addColumn<QList<int>>("late");             // how late each was taken, in ms
    QTest::addColumn<int>("missed");

    using Map = TickMs;
    QTest::newRow("on time") << Map{} << Map{} << -1 << -1 << 0 << false << 5 << QList<int>{0, 50, 100, 150, 200}
                             << QList<int>{0, 0, 0, 0, 0} << 0;
    // The ticks that came while a picture was still being taken have none; the next is on the grid.
    QTest::newRow("a capture of 1.5 intervals") << Map{{2, 75}} << Map{} << -1 << -1 << 0 << false << 6
                                                << QList<int>{0, 50, 100, 200, 250} << QList<int>{0, 0, 0, 0, 0} << 1;
    // Held up while asleep: the tick nearest the waking is served, late, while that is less than
    // half an interval; the ones before it are missed.
    QTest::newRow("woken 70 ms late") << Map{} << Map{{3, 70}} << -1 << -1 << 0 << false << 6
                                      << QList<int>{0, 50, 100, 200, 250} << QList<int>{0, 0, 0, 20, 0} << 1;
    QTest::newRow("woken 80 ms late") << Map{} << Map{{3, 80}} << -1 << -1 << 0 << false << 7
                                      << QList<int>{0, 50, 100, 250, 300} << QList<int>{0, 0, 0, 0, 0} << 2;
    // A camera given without a driver file is not opened again: the series goes on without it.
    QTest::newRow("the camera is lost at tick 3") << Map{} << Map{} << 3 << -1 << 0 << false << 10
                                                  << QList<int>{0, 50, 100} << QList<int>{0, 0, 0} << 7;
    // Nothing at or after the end of a --duration, and no tick after it missed.
    QTest::newRow("woken late across the end") << Map{} << Map{{4, 60}} << -1 << -1 << 0 << false << 5
                                               << QList<int>{0, 50, 100, 150} << QList<int>{0, 0, 0, 0} << 1;
    QTest::newRow("woken far past the end") << Map{} << Map{{4, 130}} << -1 << -1 << 0 << false << 5
                                            << QList<int>{0, 50, 100, 150} << QList<int>{0, 0, 0, 0} << 1;
    QTest::newRow("no frame near tick 2") << Map{} << Map{} << -1 << 2 << 0 << false << 5
                                          << QList<int>{0, 50, 150, 200} << QList<int>{0, 0, 0, 0} << 1;
    // A disk that stalls for a second costs no tick while the writer's queue has room (five
    // seconds of pictures by default); beyond its bound, ticks are missed instead.
    QList<int> second, onTime;
    for (int ms = 0; ms < 1000; ms += 50)
        second << ms, onTime << 0;
    QTest::newRow("the disk stalls, the queue has room") << Map{} << Map{} << -1 << -1 << 0 << true << 20 << second
                                                          << onTime << 0;
    QTest::newRow("the disk stalls, the queue is full") << Map{} << Map{} << -1 << -1 << 5 << true << 12
                                                         << second.mid(0, 5) << onTime.mid(0, 5) << 7;
}

void TestSeriesEngine::scheduleKeepsTheGrid()
{
    QFETCH(TickMs, captureTakes);
    QFETCH(TickMs, wakesLate);
    QFETCH(int, failAt);
    QFETCH(int, noFrameAt);
    QFETCH(int, queueBound);
    QFETCH(bool, holdWriter);
    QFETCH(int, ticks);
    QFETCH(QList<int>, scheduled);
    QFETCH(QList<int>, late);
    QFETCH(int, missed);

    JumpingClock clock;
    for (auto it = wakesLate.cbegin(); it != wakesLate.cend(); ++it)
        clock.m_lateMs[it.key()] = it.value();
    auto camera = std::make_unique<PlannedCamera>(clock);
    for (auto it = captureTakes.cbegin(); it != captureTakes.cend(); ++it)
        camera->m_takesMs[it.key()] = it.value();
    camera->m_failAt = failAt;
    camera->m_noFrameAt = noFrameAt;
    m_engine->source().useCamera(std::move(camera), QStringLiteral("test"));
    m_engine->setClock(&clock);
    Latch disk;
    disk.open = !holdWriter;
    m_engine->setSaver([&disk](const Frame &, const QString &, const ImageMetadata &, bool) {
        disk.wait();
        return Status::success();
    });
    if (queueBound)
        m_engine->setQueueBound(queueBound, SeriesEngine::kQueueBytes);
    m_engine->setLimits(std::nullopt, ticks * 50.0);
    QSignalSpy stopped(m_engine.get(), &SeriesEngine::stopped);
    // The end is told once it is over: a lost camera has been let go.
    connect(m_engine.get(), &SeriesEngine::stopped, this, [this] {
        const Camera *held = m_engine->source().camera();
        QVERIFY(!held || !held->isLost());
    });
    m_engine->start();
    QTRY_COMPARE(stopped.size(), 1);
    QCOMPARE(stopped.first().first().value<SeriesEvent>(), SeriesEvent::Stop);
    disk.release();
    QVERIFY(m_engine->waitForSync(5000));

    const QStringList lines = logRows();
    QList<int> rowScheduled, rowLate;
    for (const QString &row : lines.filter(QRegularExpression(QStringLiteral("^\\d+,")))) {
        const QStringList field = row.split(QLatin1Char(','));
        if (field[9] != QLatin1String("ok"))
            continue;
        rowScheduled << qRound(field[2].toDouble());
        rowLate << qRound(field[4].toDouble());
    }
    QCOMPARE(rowScheduled, scheduled);
    QCOMPARE(rowLate, late);
    if (failAt >= 0)
        QVERIFY(lines.contains(QStringLiteral("# camera lost at %1 ms: the camera stopped answering").arg(failAt * 50)));
    // A queue that fills is told once, at the first tick it has no room for.
    const QStringList full = lines.filter(QStringLiteral("# queue full at "));
    QCOMPARE(full, queueBound && missed ? QStringList{QStringLiteral("# queue full at %1 ms: the disk takes the pictures "
                                                                     "more slowly than they come")
                                                          .arg(scheduled.size() * 50)}
                                        : QStringList());
    const QString end = lines.filter(QStringLiteral("# end: ")).value(0);
    const QString word = missed == 1 ? QStringLiteral("tick") : QStringLiteral("ticks");
    QVERIFY2(end.endsWith(QStringLiteral(", %1 pictures, %2 %3 missed").arg(scheduled.size()).arg(missed).arg(word)),
             qPrintable(end));
}

// A test pattern that streams slowly still has a picture at every tick of a series: it is made
// when the tick asks for it, not waited for.
void TestSeriesEngine::slowPatternAtItsInterval()
{
    const QString driver = writeTextFile(m_dir->filePath(QStringLiteral("slow.vin")),
                                         "source = test-pattern\nwidth = 32\nheight = 16\nframe-rate = 0.25\n");
    m_engine->source().load(driver);
    m_engine->source().setLive(true);
    m_engine->timer().setInterval(1000);
    m_engine->setLimits(3, std::nullopt);
    QSignalSpy stopped(m_engine.get(), &SeriesEngine::stopped);
    m_engine->start();
    QTRY_COMPARE_WITH_TIMEOUT(stopped.size(), 1, 10000);
    QCOMPARE(stopped.first().first().value<SeriesEvent>(), SeriesEvent::Stop);
    QVERIFY(m_engine->waitForSync(5000));
    QCOMPARE(QDir(m_engine->state().SaveDirectory).entryList({QStringLiteral("*.bmp")}).size(), 3);
}

void TestSeriesEngine::neverReplacesAFileFromBefore_data()
{
    QTest::addColumn<int>("picture"); // whose name a file from before the series has
    QTest::newRow("the first picture's name") << 1;
    QTest::newRow("a later picture's name") << 3;
}

// Whatever the checks before Start saw, a file that was there before the series stays as it
// was: the save that would replace it fails, and the series stops with that picture.
void TestSeriesEngine::neverReplacesAFileFromBefore()
{
    QFETCH(int, picture);
    const QString out = m_engine->state().SaveDirectory;
    const QString earlier = out + QStringLiteral("E_%1.bmp").arg(picture, 3, 10, QLatin1Char('0'));
    QVERIFY(QDir().mkpath(out));
    QVERIFY(!writeTextFile(earlier, QStringLiteral("earlier")).isEmpty());
    QSignalSpy stopped(m_engine.get(), &SeriesEngine::stopped);
    m_engine->start();
    QTRY_COMPARE(stopped.size(), 1);
    QCOMPARE(stopped[0][1].toString(), QStringLiteral("Could not save the picture:\n%1\nFile already exists.").arg(earlier));
    QFile file(earlier);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("earlier"));
    QCOMPARE(QDir(out).entryList({QStringLiteral("*.bmp")}).size(), picture);
}

// Stop answers at once while tick 0 still waits for its frame: the engine's thread is not held,
// and the series is over within a frame's time, not the camera's wait for a first frame.
void TestSeriesEngine::stopWhileTickZeroWaits()
{
    JumpingClock clock;
    auto camera = std::make_unique<PlannedCamera>(clock);
    camera->m_waitAt = 0;
    m_engine->source().useCamera(std::move(camera), QStringLiteral("test"));
    m_engine->setClock(&clock);
    QSignalSpy stopped(m_engine.get(), &SeriesEngine::stopped);
    QElapsedTimer timer;
    timer.start();
    m_engine->start();
    m_engine->stop();
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    QTRY_COMPARE_WITH_TIMEOUT(stopped.size(), 1, 5000);
    QVERIFY(m_engine->waitForSync(5000)); // the log has its end
}

// An engine thread that is busy while pictures are saved is sent one of them to show, not a
// frame for every picture.
void TestSeriesEngine::savedFramesGoOneAtATime()
{
    JumpingClock clock;
    m_engine->setClock(&clock);
    m_engine->setLimits(std::nullopt, 20 * 50.0);
    int saved = 0, withFrame = 0;
    connect(m_engine.get(), &SeriesEngine::pictureSaved, this,
            [&](const StepReport &report) { ++saved, withFrame += report.frame.isNull() ? 0 : 1; });
    m_engine->start();
    QVERIFY(m_engine->waitForSync(5000)); // the engine's thread hears of nothing meanwhile
    QTRY_COMPARE(saved, 20);
    QCOMPARE(withFrame, 1);
}

// The program's end waits once, up to its bound, and names in the log the pictures that a held
// disk kept from being written.
void TestSeriesEngine::shutDownNamesTheUnsavedPictures()
{
    JumpingClock clock;
    m_engine->setClock(&clock);
    Latch disk;
    disk.open = false;
    m_engine->setSaver([&disk](const Frame &, const QString &, const ImageMetadata &, bool) {
        disk.wait();
        return Status::success();
    });
    m_engine->setLimits(std::nullopt, 5 * 50.0);
    m_engine->start();
    QTRY_VERIFY(!m_engine->isRecording() && !m_engine->logPath().isEmpty());
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(m_engine->shutDown(std::chrono::steady_clock::now() + std::chrono::milliseconds(600)), 5);
    QCOMPARE(m_engine->shutDown(), 5); // as the destructor calls it: no second wait
    QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(logRows().contains(QStringLiteral("# not saved: 5 pictures taken and not written when the program ended: 1-5")));
    disk.release();
    QTRY_VERIFY(logRows().filter(QStringLiteral("# end: ")).size() == 1);
}

QTEST_GUILESS_MAIN(TestSeriesEngine)
#include "test_series_engine.moc"
