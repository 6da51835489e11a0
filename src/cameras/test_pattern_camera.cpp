#include "cameras/test_pattern_camera.h"

#include "cameras/driver_file.h"
#include "base/stopwatch.h"
#include "base/thread_name.h"

#include <chrono>

TestPatternCamera::TestPatternCamera(QObject *parent) : Camera(parent) {}

namespace {

// A series' frame is made at most this long before its tick: long enough for a making that
// a busy machine slows to several intervals, short enough that the frame still shows its tick.
constexpr std::int64_t kMakeAheadNs = 200'000'000;

} // namespace

TestPatternCamera::~TestPatternCamera()
{
    stopLive();
    {
        const std::lock_guard lock(m_aheadMutex);
        m_ahead.quit = true;
    }
    m_aheadChanged.notify_all();
    if (m_maker.joinable())
        m_maker.join();
}

QString TestPatternCamera::description() const
{
    return QStringLiteral("Test pattern %1x%2 %3").arg(m_width).arg(m_height).arg(pixelFormatName(m_format));
}

Status TestPatternCamera::open(const DriverFile &driver)
{
    if (Status s = driver.checkKeys({"width", "height", "pixel-format", "frame-rate"}); !s)
        return s;
    for (const Status &s : {driver.readInt("width", 16, 8192, m_width), driver.readInt("height", 16, 8192, m_height),
                            driver.readDouble("frame-rate", 0.1, 200.0, m_frameRate)}) {
        if (!s)
            return s;
    }
    const QString format = driver.values.value(QStringLiteral("pixel-format"), QStringLiteral("Mono8"));
    if (!pixelFormatFromName(format, m_format))
        return Status::failure(QStringLiteral("pixel-format must be Mono8, Mono16 or RGB8, not \"%1\"").arg(format));
    m_generator = std::make_unique<PatternGenerator>(m_width, m_height, m_format);
    return Status::success();
}

CameraSettingsInForce TestPatternCamera::settingsInForce() const
{
    // The pattern has no exposure or gain: nothing is recorded for them.
    CameraSettingsInForce settings;
    settings.frameRate = m_frameRate;
    settings.pixelFormat = pixelFormatName(m_format);
    settings.significantBits = m_format == PixelFormat::Mono16 ? 16 : 8;
    settings.trigger = QStringLiteral("free-running");
    return settings;
}

Frame TestPatternCamera::nextFrame()
{
    // The pattern has no sensor clock: a frame is captured when it is made.
    const std::int64_t made = stopwatchClockNs();
    Frame frame = m_generator->frame(++m_made);
    frame.cameraFrameId = frame.sequence;
    frame.captureNs = made;
    return frame;
}

Status TestPatternCamera::startLive()
{
    if (!m_generator)
        return Status::failure(QStringLiteral("the test pattern is not open"));
    if (isLive())
        return Status::success();
    m_stop = false;
    beginStream();
    m_thread = std::thread([this] { run(); });
    return Status::success();
}

void TestPatternCamera::stopLive()
{
    if (!m_thread.joinable())
        return;
    {
        const std::lock_guard lock(m_stopMutex);
        m_stop = true;
    }
    m_stopRequested.notify_all();
    m_thread.join();
}

void TestPatternCamera::run()
{
    nameThisThread("pir-pattern");
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / m_frameRate));
    auto due = Clock::now();
    std::unique_lock lock(m_stopMutex);
    while (!m_stop) {
        lock.unlock();
        publishFrame(nextFrame());
        lock.lock();
        // A late frame is skipped, not made up, as a real sensor that kept exposing would.
        due += period;
        const auto now = Clock::now();
        while (due < now)
            due += period;
        m_stopRequested.wait_until(lock, due, [this] { return m_stop; });
    }
}

std::chrono::nanoseconds TestPatternCamera::framePeriod() const
{
    return std::chrono::nanoseconds(std::int64_t(1e9 / m_frameRate));
}

Status TestPatternCamera::snap(Frame &out)
{
    if (!m_generator)
        return Status::failure(QStringLiteral("the test pattern is not open"));
    if (isLive()) {
        const auto limit = frameWaitLimit();
        return frameResult(m_slot.takeNewest(FrameSlot::Clock::now() + limit, out), limit);
    }
    out = nextFrame();
    out.sequence = nextSequence();
    return Status::success();
}

// The pattern has no sensor that keeps its own time: a series' picture is made for its tick,
// whatever the frame rate of the live picture. A big frame takes milliseconds to draw, and a
// machine busy writing the pictures before it can stretch that past the fastest interval; so
// from the second tick on the next tick's frame is made ahead on a thread of its own, starting
// right after this tick or kMakeAheadNs before the next, whichever is later, and the schedule's
// thread only takes it. Its capture time stays the time it was made.
CaptureResult TestPatternCamera::capture(std::int64_t tickNs, std::int64_t intervalNs, Frame &out)
{
    if (!m_generator)
        return {CaptureOutcome::Lost, QStringLiteral("the test pattern is not open")};
    std::unique_lock lock(m_aheadMutex);
    m_aheadChanged.wait(lock, [this] { return !m_ahead.making; });
    if (m_ahead.frame && m_ahead.forTickNs == tickNs) {
        out = std::move(*m_ahead.frame);
    } else {
        // The first ticks, and a tick after missed ones, which the frame made ahead was not for.
        lock.unlock();
        out = nextFrame();
        lock.lock();
    }
    m_ahead.frame.reset();
    m_ahead.forTickNs = 0;
    // Tick 0 waits for its frame without bound and tells no interval.
    if (m_maker.joinable() && intervalNs > 0 && intervalNs < std::int64_t(86'400) * 1'000'000'000) {
        m_ahead.forTickNs = tickNs + intervalNs;
        m_aheadChanged.notify_all();
    }
    out.sequence = nextSequence();
    return {};
}

void TestPatternCamera::setSeriesRunning(bool running)
{
    {
        const std::lock_guard lock(m_aheadMutex);
        m_ahead.forTickNs = 0;
        m_ahead.frame.reset();
    }
    if (running && !m_maker.joinable())
        m_maker = std::thread([this] { makeAhead(); });
}

void TestPatternCamera::makeAhead()
{
    nameThisThread("pir-make-ahead");
    std::unique_lock lock(m_aheadMutex);
    for (;;) {
        m_aheadChanged.wait(lock, [this] { return m_ahead.quit || (m_ahead.forTickNs != 0 && !m_ahead.frame); });
        if (m_ahead.quit)
            return;
        const std::int64_t forTick = m_ahead.forTickNs;
        // Until the making may start; a new request or the end of the series wakes the wait.
        const auto start = std::chrono::steady_clock::time_point(std::chrono::nanoseconds(forTick - kMakeAheadNs));
        if (m_aheadChanged.wait_until(lock, start, [&] { return m_ahead.quit || m_ahead.forTickNs != forTick; }))
            continue;
        m_ahead.making = true;
        lock.unlock();
        Frame frame = nextFrame();
        lock.lock();
        m_ahead.making = false;
        if (m_ahead.forTickNs == forTick)
            m_ahead.frame = std::move(frame);
        m_aheadChanged.notify_all();
    }
}
