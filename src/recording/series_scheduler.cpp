#include "recording/series_scheduler.h"

#include "analog/analog_card.h"
#include "base/stopwatch.h"
#include "cameras/camera.h"
#include "naming/file_name.h"
#include "recording/picture_queue.h"
#include "recording/picture_source.h"
#include "base/thread_name.h"

#include <QDateTime>

#include <cmath>
#include <limits>

SeriesScheduler::SeriesScheduler(const SeriesSettings &settings, PictureSource &source, AnalogCard &card,
                                 std::mutex &cardMutex, PictureQueue &queue, SeriesClock &clock, Callbacks callbacks)
    : m_settings(settings), m_source(source), m_card(card), m_cardMutex(cardMutex), m_queue(queue), m_clock(clock),
      m_callbacks(std::move(callbacks))
{
}

SeriesScheduler::~SeriesScheduler()
{
    stop();
}

void SeriesScheduler::start()
{
    m_thread = std::thread([this] {
        nameThisThread("pir-schedule");
        run();
    });
}

void SeriesScheduler::requestStop()
{
    bool served = false;
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
        served = m_firstServed;
    }
    m_changed.notify_all();
    // A wait for the camera's next frame ends at once, unless tick 0 is still to be served: a
    // series that was started has its first picture, if it comes soon (interruptWaits()).
    if (served)
        interruptWaits();
}

void SeriesScheduler::interruptWaits()
{
    if (Camera *camera = m_source.camera())
        camera->interruptWaits();
}

void SeriesScheduler::stop()
{
    requestStop();
    interruptWaits();
    if (m_thread.joinable())
        m_thread.join();
    if (Camera *camera = m_source.camera())
        camera->resumeWaits();
}

QString SeriesScheduler::priority() const
{
    const std::lock_guard lock(m_mutex);
    return m_priority;
}

std::optional<std::uint64_t> SeriesScheduler::framesReceived() const
{
    return m_framesReceived;
}

void SeriesScheduler::run()
{
    const QString priority = raiseSchedulePriority();
    {
        const std::lock_guard lock(m_mutex);
        m_priority = priority;
    }
    if (Camera *camera = m_source.camera())
        camera->awaitFirstFrame();
    // A start set for an instant to come is slept to, as a tick is; a Stop before it ends the
    // series without a picture.
    bool started = true;
    if (m_settings.startNs) {
        std::unique_lock lock(m_mutex);
        started = m_clock.sleepUntil(*m_settings.startNs, lock, m_changed, m_stop);
    }
    const std::int64_t startNs = m_settings.startNs.value_or(m_clock.now());
    StopwatchStartAt(m_settings.stopwatch, 0, startNs);
    m_schedule.emplace(startNs, std::int64_t(m_settings.intervalMs) * 1'000'000);
    m_endTick = endTick(m_settings, m_schedule->interval());
    std::int64_t tick = 0;
    while (started && serve(tick)) {
        Schedule::Next next = m_schedule->afterCapture(tick, m_clock.now());
        const bool goOn = countMissed(next);
        reportMissed();
        if (!goOn || !sleepTo(next))
            break;
        reportMissed();
        tick = next.tick;
    }
    reportMissed();
    // The counts at the end of a streaming series, while the camera is still there: a camera that
    // was lost is released only once the series has ended. One away is no longer this thread's.
    if (!m_away)
        tallyFrames();
    // The writer ends the log with what the series came to, whenever the engine hears of it.
    PictureJob end;
    end.kind = PictureJob::Kind::End;
    end.schedule = priority;
    end.end.end = QDateTime::currentDateTime();
    end.end.ticksMissed = m_missed;
    end.end.framesReceived = framesReceived();
    end.end.framesLost = m_framesLost;
    m_queue.push(std::move(end));
    if (m_callbacks.finished)
        m_callbacks.finished(m_failure);
}

// The first tick at or after a series' duration; none without one.
std::optional<std::int64_t> SeriesScheduler::endTick(const SeriesSettings &settings, std::int64_t intervalNs)
{
    if (!settings.maxDurationMs)
        return std::nullopt;
    const auto isPast = [&](std::int64_t tick) { return double(tick * intervalNs) / 1e6 >= *settings.maxDurationMs; };
    auto tick = std::int64_t(std::max(0.0, std::ceil(*settings.maxDurationMs * 1e6 / double(intervalNs))));
    while (tick > 0 && isPast(tick - 1))
        --tick;
    while (!isPast(tick))
        ++tick;
    return tick;
}

// Counts the ticks passed over on the way to `next` that fall before the series' end; false
// when `next` does not.
bool SeriesScheduler::countMissed(const Schedule::Next &next)
{
    const std::int64_t end = m_endTick.value_or(std::numeric_limits<std::int64_t>::max());
    m_missed += std::max<std::int64_t>(0, std::min(next.tick, end) - (next.tick - next.missed));
    return next.tick < end;
}

// Sleeps to the next tick to serve; false when the series ends first.
bool SeriesScheduler::sleepTo(Schedule::Next &next)
{
    while (!next.serveNow) {
        const std::int64_t dueNs = m_schedule->tickTime(next.tick);
        std::unique_lock lock(m_mutex);
        if (!m_clock.sleepUntil(dueNs, lock, m_changed, m_stop))
            return false;
        lock.unlock();
        next = m_schedule->onWake(next.tick, m_clock.now());
        if (!countMissed(next))
            return false;
    }
    const std::lock_guard lock(m_mutex);
    return !m_stop;
}

bool SeriesScheduler::serve(std::int64_t tick)
{
    // While the camera is away every tick is missed.
    if (m_away && !comeBack(tick)) {
        ++m_missed;
        return true;
    }
    // A picture that would find no room in the writer's queue is not taken at all. The log says
    // when the disk fell behind and for how long, in its place among the rows.
    const std::int64_t tickMs = tick * m_settings.intervalMs;
    if (!m_queue.hasRoomFor(m_lastFrameBytes)) {
        if (!m_queueFullTick) {
            m_queueFullTick = tick;
            pushNote(QStringLiteral("queue full at %1 ms: the disk takes the pictures more slowly than they come")
                         .arg(tickMs));
        }
        ++m_missed;
        return true;
    }
    if (m_queueFullTick) {
        const std::int64_t missed = tick - *m_queueFullTick;
        pushNote(QStringLiteral("queue has room again at %1 ms (%2 %3 missed)")
                     .arg(tickMs)
                     .arg(missed)
                     .arg(missed == 1 ? QStringLiteral("tick") : QStringLiteral("ticks")));
        m_queueFullTick.reset();
    }
    const std::int64_t tickNs = m_schedule->tickTime(tick);
    PictureJob job;
    TakenPicture taken;
    taken.picture = m_pictures + 1;
    double stopwatchMs = 0;
    StopwatchReadAt(m_settings.stopwatch, 0, m_clock.now(), stopwatchMs);
    taken.stopwatchMs = stopwatchMs;
    job.record.captureTime = QDateTime::currentDateTime();

    // The readings belong to the tick, so they are taken before the camera is waited for.
    ChannelReadingState readings;
    readings.BoardNumber = m_settings.board;
    const bool ticked[2] = {m_settings.options.channel0, m_settings.options.channel1};
    for (int channel = 0; channel < 2; ++channel) {
        if (!ticked[channel])
            continue;
        const std::lock_guard lock(m_cardMutex);
        taken.channelText[channel] = takeChannelReading(readings, m_card, channel, m_settings.locale);
    }
    taken.analogSuffix = readings.AnalogSuffix;
    taken.readings[0] = readings.LastReading[0];
    taken.readings[1] = readings.LastReading[1];
    const NameOptions &o = m_settings.options;
    taken.numberAndTime = numberAndTimePiece(o.number, o.time, taken.picture, stopwatchMs, m_settings.locale);
    taken.fileName = fullFileName(m_settings.directory, m_settings.baseName, taken.numberAndTime, taken.analogSuffix,
                                  m_settings.extension);
    fillPictureRecord(job.record, taken.picture, stopwatchMs, double(tick) * m_settings.intervalMs, o, readings);
    job.fileName = taken.fileName;

    // Picture 1 is taken at Start whatever the camera's rate: tick 0 takes the frame nearest it,
    // however far, where a later tick has none beyond half an interval.
    const std::int64_t window = tick == 0 ? std::numeric_limits<std::int64_t>::max() / 4 : m_schedule->interval();
    const CaptureResult captured = m_source.capture(tickNs, window, job.frame);
    {
        const std::lock_guard lock(m_mutex);
        m_firstServed = true;
        // Stop ended the wait for this picture's frame: the series is over without it.
        if (captured.outcome == CaptureOutcome::Interrupted ||
            (captured.outcome == CaptureOutcome::Lost && m_stop))
            return false;
    }
    // No frame was captured within half an interval of the tick: it has no picture.
    if (captured.outcome == CaptureOutcome::NoFrame) {
        ++m_missed;
        return true;
    }
    if (captured.outcome == CaptureOutcome::Lost && !m_settings.stopOnCameraLoss) {
        goAway(captured.reason);
        return true;
    }
    const bool pictured = captured.outcome == CaptureOutcome::Picture;
    if (pictured) {
        double frameMs = 0;
        double nowMs = 0;
        if (job.frame.captureNs != 0 && StopwatchReadAt(m_settings.stopwatch, 0, job.frame.captureNs, frameMs) == 0 &&
            StopwatchReadAt(m_settings.stopwatch, 0, m_clock.now(), nowMs) == 0) {
            job.record.frameMs = frameMs;
            job.frameId = job.frame.cameraFrameId;
            job.frameAgeMs = std::max(0.0, nowMs - frameMs);
        }
        takeExposure(job.record, job.frame, m_settings.cameraAtStart);
        countFrames(job.frame);
        m_lastFrameBytes = job.bytes();
        m_lastPictureTick = tick;
        ++m_pictures;
    } else {
        job.kind = PictureJob::Kind::Failed;
        job.failure = captured.reason;
        job.frame = Frame();
        m_failed = true;
        m_failure = captureFailureMessage(job.fileName, job.failure);
    }
    if (m_callbacks.taken)
        m_callbacks.taken(taken);
    job.tickNs = tickNs;
    pushJob(std::move(job));
    return pictured && !(m_settings.maxPictures && m_pictures >= *m_settings.maxPictures);
}

void SeriesScheduler::pushJob(PictureJob job)
{
    job.schedule = m_priority; // written by this thread only
    m_queue.push(std::move(job));
}

void SeriesScheduler::pushNote(const QString &note)
{
    PictureJob job;
    job.kind = PictureJob::Kind::Note;
    job.note = note;
    pushJob(std::move(job));
}

void SeriesScheduler::reportMissed()
{
    if (m_missed != m_missedReported && m_callbacks.missed)
        m_callbacks.missed(m_missed);
    m_missedReported = m_missed;
}

void SeriesScheduler::goAway(const QString &reason)
{
    ++m_missed;
    tallyFrames();
    m_away = true;
    // The camera fell silent after its last picture, whenever its loss was noticed.
    m_awayTick = m_lastPictureTick + 1;
    pushNote(QStringLiteral("camera lost at %1 ms: %2").arg(qint64(m_awayTick) * m_settings.intervalMs).arg(reason));
    if (m_callbacks.away)
        m_callbacks.away(reason);
}

bool SeriesScheduler::comeBack(std::int64_t tick)
{
    if (!m_cameraBack.exchange(false))
        return false;
    m_away = false;
    pushNote(QStringLiteral("camera back at %1 ms (%2 ticks missed)")
                 .arg(qint64(tick) * m_settings.intervalMs)
                 .arg(tick - m_awayTick));
    return true;
}

void SeriesScheduler::tallyFrames()
{
    Camera *camera = m_source.camera();
    if (!camera || !m_firstSequence)
        return;
    m_framesReceived = m_framesReceived.value_or(0) + camera->framesPublished() - *m_firstSequence + 1;
    m_framesLost += camera->framesLost() - m_lostAtFirst;
    m_firstSequence.reset();
}

void SeriesScheduler::countFrames(const Frame &frame)
{
    Camera *camera = m_source.camera();
    if (m_firstSequence || !camera || !m_source.isStreaming())
        return;
    m_firstSequence = frame.sequence;
    m_lostAtFirst = camera->framesLost();
}
