// When a GenICam camera takes its pictures and when they were taken: the software trigger, and
// the camera's clock put on the host's through its timestamp latch.

#include "cameras/genicam/genicam_timing.h"

#include "base/stopwatch.h"

#include <arv.h>

#include <array>
#include <optional>
#include <thread>

namespace {

// Often enough that the drift between the clocks (some tens of parts per million) stays well
// under a millisecond, rarely enough to cost the control channel nothing worth counting.
constexpr std::chrono::seconds kLatchRefresh{2};
// Readings per latch: the one with the shortest round trip is the most certain.
constexpr int kLatchReadings = 3;
// How often a trigger looks again for the control channel that another exchange holds.
constexpr std::chrono::milliseconds kControlPoll{2};
// The live picture's trigger rate where the camera does not tell its frame rate.
constexpr std::chrono::milliseconds kLivePeriodWhenUnknown{100};

struct LatchReading
{
    std::int64_t ticks = 0;
    std::int64_t beforeNs = 0;
    std::int64_t afterNs = 0;
};

} // namespace

std::int64_t GenicamCamera::Timing::ticksToNs(std::int64_t ticks) const
{
    if (tickHz <= 0 || tickHz == 1'000'000'000)
        return ticks;
    return ticks / tickHz * 1'000'000'000 + ticks % tickHz * 1'000'000'000 / tickHz;
}

bool GenicamCamera::Timing::read(ArvCamera *camera, std::int64_t &ticks, std::int64_t &beforeNs, std::int64_t &afterNs)
{
    GError *error = nullptr;
    const std::lock_guard lock(control);
    // The camera latches its clock while the command is under way; reading the value after is
    // a separate exchange that does not matter for the instant.
    beforeNs = stopwatchClockNs();
    arv_camera_execute_command(camera, latchCommand, &error);
    afterNs = stopwatchClockNs();
    if (!error)
        ticks = arv_camera_get_integer(camera, latchValue, &error);
    const bool read = !error && ticks > 0;
    g_clear_error(&error);
    return read;
}

bool GenicamCamera::Timing::latch(ArvCamera *camera)
{
    std::optional<LatchReading> best;
    for (int i = 0; i < kLatchReadings; ++i) {
        LatchReading reading;
        if (!read(camera, reading.ticks, reading.beforeNs, reading.afterNs))
            return false;
        if (!best || reading.afterNs - reading.beforeNs < best->afterNs - best->beforeNs)
            best = reading;
    }
    const std::lock_guard lock(clockMutex);
    clock.latch(ticksToNs(best->ticks), best->beforeNs, best->afterNs);
    return true;
}

void GenicamCamera::Timing::keep(ArvCamera *camera)
{
    std::unique_lock lock(wakeMutex);
    while (!wake.wait_for(lock, kLatchRefresh, [this] { return stop; })) {
        lock.unlock();
        // A refresh that fails keeps the mapping it would have replaced.
        if (streaming.load())
            latch(camera);
        lock.lock();
    }
}

void GenicamCamera::findLatch()
{
    // The standard's names first, then those of cameras made before it.
    static constexpr std::array<std::array<const char *, 2>, 2> kLatches = {
        {{"TimestampLatch", "TimestampLatchValue"}, {"GevTimestampControlLatch", "GevTimestampValue"}}};
    for (const auto &[command, value] : kLatches) {
        if (arv_camera_is_feature_available(m_camera, command, nullptr) &&
            arv_camera_is_feature_available(m_camera, value, nullptr)) {
            m_timing->latchCommand = command;
            m_timing->latchValue = value;
            break;
        }
    }
    if (!m_timing->latchCommand)
        return;
    // The latch reads the counter that stamps the frames, so it is brought to nanoseconds as
    // Aravis brings the frames' stamps: by the GigE Vision tick frequency (GevTimestampTickFrequency);
    // USB3 Vision counts in nanoseconds.
    if (arv_camera_is_gv_device(m_camera))
        m_timing->tickHz = std::int64_t(
            arv_gv_device_get_timestamp_tick_frequency(ARV_GV_DEVICE(arv_camera_get_device(m_camera)), nullptr));
    // A latch that reads nothing, or a clock that does not advance, is of no use.
    std::int64_t first = 0, second = 0, before = 0, after = 0;
    if (!m_timing->read(m_camera, first, before, after) || !m_timing->read(m_camera, second, before, after) ||
        second <= first) {
        m_timing->latchCommand = nullptr;
        m_timing->latchValue = nullptr;
        m_timing->latchFailed = true;
    }
}

QString GenicamCamera::frameTimeNote() const
{
    std::optional<std::int64_t> uncertainty;
    {
        const std::lock_guard lock(m_timing->clockMutex);
        uncertainty = m_timing->clock.latchUncertaintyNs();
    }
    if (uncertainty)
        return QStringLiteral("the camera's stamp of the frame, put on this computer's clock through the camera's "
                              "timestamp latch (%1) to within %2 ms at Start, refreshed every %3 s")
            .arg(QLatin1String(m_timing->latchCommand))
            .arg(double(*uncertainty) / 1e6, 0, 'f', 3)
            .arg(kLatchRefresh.count());
    return QStringLiteral("the arrival time less an estimate of the transfer: the camera's stamp of the frame plus "
                          "the smallest difference between arrival and stamp over the last %1 frames (the camera "
                          "has no timestamp latch%2)")
        .arg(CameraClock::kWindow)
        .arg(m_timing->latchFailed ? QStringLiteral(" that answers") : QString());
}

Status GenicamCamera::startLive()
{
    const Status started = StreamingCamera::startLive();
    if (started && m_softwareTrigger) {
        const auto period = std::chrono::ceil<std::chrono::milliseconds>(framePeriod());
        m_liveTrigger.start(period.count() > 0 ? period : kLivePeriodWhenUnknown);
        m_liveTriggerNs = 0; // a stream started afresh awaits no earlier frame
        fireLiveTrigger();
    }
    return started;
}

void GenicamCamera::stopLive()
{
    m_liveTrigger.stop();
    StreamingCamera::stopLive();
}

void GenicamCamera::setSeriesRunning(bool running)
{
    m_inSeries = running;
    // After a series the live picture goes on at once.
    if (!running)
        fireLiveTrigger();
}

Status GenicamCamera::snap(Frame &out)
{
    return m_softwareTrigger ? triggeredFrame(out) : StreamingCamera::snap(out);
}

CaptureResult GenicamCamera::capture(std::int64_t tickNs, std::int64_t intervalNs, Frame &out)
{
    // A triggered camera takes the picture when the tick tells it to.
    if (!m_softwareTrigger)
        return StreamingCamera::capture(tickNs, intervalNs, out);
    const Status status = triggeredFrame(out);
    return tickResult(status, out);
}

Status GenicamCamera::triggeredFrame(Frame &out)
{
    if (Status s = usable(); !s)
        return s;
    const bool live = isLive();
    if (!live) {
        beginStream();
        if (Status s = startStream(); !s)
            return s;
    } else {
        skipPendingLiveFrame();
    }
    const auto limit = frameWaitLimit(!live);
    const std::uint64_t before = m_slot.newestSequence();
    Status result = fireTrigger();
    if (result) {
        const FrameSlot::Result taken = m_slot.takeFirstAfter(before, FrameSlot::Clock::now() + limit, out);
        if (taken != FrameSlot::Result::Timeout || silenceMeansLost())
            result = frameResult(taken, limit);
    }
    if (!live)
        stopStream();
    return result;
}

Status GenicamCamera::fireTrigger()
{
    GError *error = nullptr;
    {
        // The latch's refresh may hold the control channel for seconds on a link that retries:
        // a Stop that ends the series' waits must not wait behind it.
        std::unique_lock lock(m_timing->control, std::try_to_lock);
        while (!lock.owns_lock()) {
            if (m_slot.isInterrupted())
                return frameResult(FrameSlot::Result::Interrupted, {});
            std::this_thread::sleep_for(kControlPoll);
            lock.try_lock();
        }
        arv_camera_software_trigger(m_camera, &error);
    }
    if (!error)
        return Status::success();
    // The camera did not take the command: it is gone, or another program controls it.
    const QString reason = QString::fromUtf8(error->message);
    g_clear_error(&error);
    loseCamera(QStringLiteral("the camera does not take the software trigger: %1").arg(reason));
    return Status::failure(lostReason());
}

void GenicamCamera::fireLiveTrigger()
{
    if (!m_softwareTrigger || m_inSeries.load() || !isLive() || isLost())
        return;
    // A camera still busy with the last picture would drop the trigger, so its frame is awaited
    // first; not for ever, as a frame lost on the way must not stop the live picture.
    const std::int64_t nowNs = stopwatchClockNs();
    const std::int64_t lastNs = m_liveTriggerNs.load();
    if (lastNs != 0 && m_slot.newestSequence() <= m_liveTriggerSequence.load() &&
        std::chrono::nanoseconds(nowNs - lastNs) < frameWaitLimit())
        return;
    m_liveTriggerSequence = m_slot.newestSequence();
    m_liveTriggerNs = nowNs;
    fireTrigger();
}

void GenicamCamera::skipPendingLiveFrame()
{
    // A live trigger's frame still on its way belongs to the live picture: it must not pass for
    // the frame of the trigger that follows.
    const std::int64_t firedNs = m_liveTriggerNs.exchange(0);
    const std::uint64_t sequence = m_liveTriggerSequence.load();
    if (firedNs == 0 || m_slot.newestSequence() > sequence)
        return;
    const auto waited = std::chrono::nanoseconds(stopwatchClockNs() - firedNs);
    Frame live;
    m_slot.takeFirstAfter(sequence, FrameSlot::Clock::now() + (frameWaitLimit() - waited), live);
}
