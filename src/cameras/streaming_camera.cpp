#include "cameras/streaming_camera.h"

#include "base/stopwatch.h"

namespace {

constexpr int kWatchdogPeriodMs = 200;

} // namespace

// The watchdog is a child, so that it follows the camera to the thread it is moved to.
StreamingCamera::StreamingCamera(QObject *parent) : Camera(parent), m_watchdog(this)
{
    m_watchdog.setInterval(kWatchdogPeriodMs);
    connect(&m_watchdog, &QTimer::timeout, this, &StreamingCamera::checkSilence);
}

Status StreamingCamera::usable() const
{
    if (isLost())
        return Status::failure(lostReason());
    if (!isOpen())
        return Status::failure(QStringLiteral("the camera is not open"));
    return Status::success();
}

Status StreamingCamera::startLive()
{
    if (Status s = usable(); !s)
        return s;
    if (m_live.load())
        return Status::success();
    beginStream();
    m_arrived = false;
    m_lastArrivalNs = stopwatchClockNs();
    m_live = true;
    if (Status s = startStream(); !s) {
        m_live = false;
        return s;
    }
    m_watchdog.start();
    return Status::success();
}

void StreamingCamera::stopLive()
{
    m_watchdog.stop();
    // The stream may have ended on its own when the camera was lost; it is stopped anyway, so
    // that its thread is joined.
    if (m_live.exchange(false) || isLost())
        stopStream();
}

Status StreamingCamera::snap(Frame &out)
{
    if (Status s = usable(); !s)
        return s;
    if (!m_live.load())
        return singleAcquisition(out);
    const auto limit = frameWaitLimit(!m_arrived.load());
    return frameResult(m_slot.takeNewest(FrameSlot::Clock::now() + limit, out), limit);
}

CaptureResult StreamingCamera::capture(std::int64_t tickNs, std::int64_t intervalNs, Frame &out)
{
    Status status = usable();
    if (status && !m_live.load()) {
        status = singleAcquisition(out);
    } else if (status) {
        const auto limit = frameWaitLimit(!m_arrived.load());
        const auto period = std::chrono::duration_cast<std::chrono::nanoseconds>(framePeriod()).count();
        // The wait runs from the tick: a frame captured at the tick arrives after it.
        const auto late = std::chrono::nanoseconds(std::max<std::int64_t>(0, tickNs - stopwatchClockNs()));
        const auto deadline = FrameSlot::Clock::now() + late + limit;
        const FrameSlot::Result result = m_slot.takeNearest(tickNs, period, intervalNs / 2, deadline, out);
        // Where silence is not a loss, a frame that did not come only misses its tick.
        status = result == FrameSlot::Result::Timeout && !silenceMeansLost() ? Status::success()
                                                                             : frameResult(result, limit);
    }
    return tickResult(status, out);
}

void StreamingCamera::awaitFirstFrame()
{
    // A camera told when to take each picture sends nothing until the first tick tells it to.
    if (!m_live.load() || m_arrived.load() || waitsToBeTold())
        return;
    const auto limit = frameWaitLimit(true);
    // A camera that sends nothing in time is lost, where silence means that; the first tick then
    // says so.
    const FrameSlot::Result result = m_slot.awaitFirst(FrameSlot::Clock::now() + limit);
    if (result != FrameSlot::Result::Timeout || silenceMeansLost())
        frameResult(result, limit);
}

Status StreamingCamera::singleAcquisition(Frame &out)
{
    beginStream();
    if (Status s = startStream(); !s)
        return s;
    const auto limit = frameWaitLimit(true);
    const FrameSlot::Result result = m_slot.takeNewest(FrameSlot::Clock::now() + limit, out);
    stopStream();
    return frameResult(result, limit);
}

void StreamingCamera::deliver(const Frame &frame)
{
    m_lastArrivalNs = stopwatchClockNs();
    m_arrived = true;
    publishFrame(frame, m_live.load());
}

void StreamingCamera::loseCamera(const QString &reason)
{
    if (markLost(reason))
        m_live = false;
}

void StreamingCamera::checkSilence()
{
    if (!m_live.load() || isLost()) {
        m_watchdog.stop();
        return;
    }
    if (!silenceMeansLost()) {
        m_lastArrivalNs = stopwatchClockNs();
        return;
    }
    const std::int64_t silentNs = stopwatchClockNs() - m_lastArrivalNs.load();
    if (std::chrono::nanoseconds(silentNs) > frameWaitLimit(!m_arrived.load()))
        loseCamera(QStringLiteral("no picture from the camera for %1 s").arg(double(silentNs) / 1e9, 0, 'f', 1));
}
