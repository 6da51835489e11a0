#include "cameras/test_pattern_camera.h"

#include "cameras/driver_file.h"
#include "base/stopwatch.h"

#include <chrono>

TestPatternCamera::TestPatternCamera(QObject *parent) : Camera(parent) {}

TestPatternCamera::~TestPatternCamera()
{
    stopLive();
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

// The pattern has no sensor that keeps its own time: a series' picture is made at its tick,
// whatever the frame rate of the live picture.
CaptureResult TestPatternCamera::capture(std::int64_t, std::int64_t, Frame &out)
{
    if (!m_generator)
        return {CaptureOutcome::Lost, QStringLiteral("the test pattern is not open")};
    out = nextFrame();
    out.sequence = nextSequence();
    return {};
}
