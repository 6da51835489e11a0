#include "recording/series_engine.h"

#include "analog/analog_card.h"
#include "analog/channel_reading.h"
#include "recording/image_control.h"
#include "picture_files/image_files.h"
#include "base/stopwatch.h"
#include "naming/file_name.h"
#include "recording/save_target.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include <chrono>
#include <cmath>
#include <future>
#include <thread>

// The pictures of one finished series on their way to the disk, on a thread of their own so
// that neither the window nor the next series waits for it.
class SeriesSync
{
public:
    SeriesSync(const QString &directory, const QString &logPath) : m_logPath(logPath)
    {
        auto promise = std::make_shared<std::promise<Status>>();
        m_result = promise->get_future();
        // Detached: a disk that hangs must not hang the program's end, which waits only so long.
        std::thread([promise, directory] { promise->set_value(syncSavedPictures(directory)); }).detach();
    }

    bool wait(std::chrono::milliseconds timeout) const
    {
        return m_result.wait_for(timeout) == std::future_status::ready;
    }
    Status result() { return m_result.get(); }
    const QString &logPath() const { return m_logPath; }

private:
    QString m_logPath;
    std::future<Status> m_result;
};

namespace {

constexpr int kSyncPollMs = 20;

// The picture's own copy of its log row, as far as it is known before the save. The channels
// are taken after composition, which reads them.
void fillPictureRecord(ImageMetadata &metadata, const CaptureState &state, int intervalMs, const NameOptions &options)
{
    metadata.picture = state.FrameCounter;
    metadata.stopwatchMs = state.ElapsedMsec;
    metadata.scheduledMs = double(state.FrameCounter - 1) * intervalMs;
    auto reading = [&state](int channel) {
        const CaptureState::ChannelRecord &r = state.LastReading[channel];
        return r.ok ? ChannelSample{true, r.count, r.value} : ChannelSample{};
    };
    if (options.channel0)
        metadata.channel0 = reading(0);
    if (options.channel1)
        metadata.channel1 = reading(1);
}

// The frame's own exposure and gain where the camera sent them with it, else those set at
// Start, unless an automatic mode may have changed them since.
void takeExposure(ImageMetadata &metadata, const Frame &frame, const CameraSettingsInForce &start)
{
    metadata.exposureUs = frame.exposureUs ? frame.exposureUs : start.exposureAuto ? std::nullopt : start.exposureUs;
    metadata.gain = frame.gain ? frame.gain : start.gainAuto ? std::nullopt : start.gain;
    metadata.gainUnit = frame.gain ? QStringLiteral("dB") : start.gainUnit;
}

QString nowIso()
{
    const QDateTime now = QDateTime::currentDateTime();
    return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

} // namespace

SeriesEngine::SeriesEngine(ImageControl &image, QObject *parent)
    : QObject(parent), m_image(image), m_timer(this), m_syncPoll(this)
{
    m_timer.setObjectName(QStringLiteral("Timer1"));
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &SeriesEngine::step);
    m_syncPoll.setInterval(kSyncPollMs);
    connect(&m_syncPoll, &QTimer::timeout, this, &SeriesEngine::reapSyncs);
}

SeriesEngine::~SeriesEngine()
{
    shutDown();
}

void SeriesEngine::setCard(std::unique_ptr<AnalogCard> card)
{
    m_card = std::move(card);
}

void SeriesEngine::compose()
{
    m_state.AnalogSuffix.clear();
    const QString piece =
        numberAndTimePiece(m_options.number, m_options.time, m_state.FrameCounter, m_state.ElapsedMsec, QLocale());
    if (m_options.channel0)
        readChannel(0);
    if (m_options.channel1)
        readChannel(1);
    m_state.FullFileName =
        fullFileName(m_state.SaveDirectory, m_state.BaseName, piece, m_state.AnalogSuffix, m_state.FileExtension);
    Q_EMIT composed(piece, m_state.FullFileName);
}

QString SeriesEngine::readChannel(int channel)
{
    const QString text = takeChannelReading(m_state, *m_card, channel, QLocale());
    Q_EMIT channelRead(channel, text);
    return text;
}

void SeriesEngine::start()
{
    const std::optional<RecordingState> next = seriesTransition(m_state.Recording, SeriesEvent::Start);
    if (!next)
        return;
    m_state.Recording = *next;
    reapSyncs();
    // Before the window switches the live picture off, so that the camera never stops.
    if (m_streamDuringSeries)
        m_image.setSeriesStreaming(true);
    Q_EMIT started();
    openLog();
    StopwatchStart(m_state.StopwatchHandle, 0);
    // The timer runs from the same instant as the stopwatch, so that picture n is due at
    // Start + (n - 1) x interval however long the first step takes. Nothing else runs on this
    // thread before the first step is done, so no tick can overtake it.
    m_timer.start();
    step();
}

void SeriesEngine::stop()
{
    end(SeriesEvent::Stop, QString());
}

void SeriesEngine::end(SeriesEvent why, const QString &message)
{
    const std::optional<RecordingState> next = seriesTransition(m_state.Recording, why);
    if (!next)
        return;
    m_state.Recording = *next;
    m_timer.stop();
    finishLog();
    syncSeries();
    m_state.FrameCounter = 1;
    m_state.ElapsedMsec = 0;
    Q_EMIT stopped(why, message);
    // After the window has switched the live picture back on: a camera that goes on streaming
    // for it is not stopped in between.
    m_image.setSeriesStreaming(false);
}

void SeriesEngine::finishLog()
{
    if (!m_log.isOpen())
        return;
    SeriesLogEnd end;
    end.end = QDateTime::currentDateTime();
    end.pictures = m_state.FrameCounter - 1;
    // Ticks that came too late are dropped, not made up: the last step tells how many were.
    const int interval = std::max(1, m_timer.interval());
    end.ticksMissed = std::max<qint64>(0, qint64(std::llround(m_lastStepMs / interval)) - (end.pictures - 1));
    if (m_published) {
        end.framesReceived = *m_published - m_publishedAtStart;
        end.framesLost = m_lost - m_lostAtStart;
    }
    m_log.finish(end);
}

void SeriesEngine::step()
{
    StopwatchRead(m_state.StopwatchHandle, 0, m_state.ElapsedMsec);
    m_lastStepMs = m_state.ElapsedMsec;
    ImageMetadata metadata;
    metadata.captureTime = QDateTime::currentDateTime();
    const Status acquired = m_image.snap();
    std::optional<double> frameAgeMs;
    if (acquired) {
        takeFrameTimes(metadata, frameAgeMs);
        takeExposure(metadata, m_image.currentFrame(), m_settingsAtStart);
    }
    countFrames();
    compose();
    fillPictureRecord(metadata, m_state, m_timer.interval(), m_options);
    Status saved = acquired;
    if (saved)
        saved = checkSaveTarget(m_state.SaveDirectory, m_state.FullFileName);
    // A fresh machine has no output directory yet; the first picture of a series makes it. One
    // that goes away later is not made again: it may be the mount point of an unplugged disk.
    if (saved && m_state.FrameCounter == 1)
        saved = makeOutputDirectory(m_state.SaveDirectory);
    const QString replaced = saved ? replacedBy(m_state.FullFileName) : QString();
    if (saved)
        saved = m_image.save(m_state.FullFileName, metadata);
    logStep(metadata, saved, replaced, frameAgeMs);
    if (!saved) {
        end(SeriesEvent::StepFailed, savingFailureMessage(m_state.FullFileName, saved.reason()));
        return;
    }
    m_anySaved = true;
    // A number or a time makes every name of a series its own: only names without them can
    // repeat, and only then are they kept, so that a long series does not grow in memory.
    if (!m_options.number && !m_options.time)
        m_savedNames.insert(m_state.FullFileName, m_state.FrameCounter);
    // Said only now: the warning promises that the pictures are saved, which a series that
    // could not save its first picture would make untrue.
    if (!m_logFailure.ok())
        logFailure(m_logFailure);
    double doneMs = 0;
    StopwatchRead(m_state.StopwatchHandle, 0, doneMs);
    const StepReport report{m_state.FrameCounter, m_state.FullFileName, saved, m_state.ElapsedMsec,
                            *metadata.scheduledMs,    doneMs - m_state.ElapsedMsec, metadata.frameMs, frameAgeMs};
    m_state.FrameCounter += 1;
    // Last: whoever hears of the picture may stop the series at once.
    Q_EMIT pictureSaved(report);
}

// When the camera captured the frame just taken, and how old it was when taken.
void SeriesEngine::takeFrameTimes(ImageMetadata &metadata, std::optional<double> &frameAgeMs)
{
    const Frame &frame = m_image.currentFrame();
    if (frame.captureNs == 0)
        return;
    double frameMs = 0;
    double takenMs = 0;
    StopwatchRead(m_state.StopwatchHandle, 0, takenMs);
    if (StopwatchReadAt(m_state.StopwatchHandle, 0, frame.captureNs, frameMs) != 0)
        return;
    metadata.frameMs = frameMs;
    frameAgeMs = takenMs - frameMs;
}

void SeriesEngine::countFrames()
{
    // The camera object goes away when it is lost; its last counts stay.
    const Camera *camera = m_image.camera();
    if (!camera || !m_image.isStreaming())
        return;
    m_published = camera->framesPublished();
    m_lost = camera->framesLost();
}

QString SeriesEngine::replacedBy(const QString &fileName) const
{
    const auto earlier = m_savedNames.constFind(fileName);
    if (earlier != m_savedNames.constEnd())
        return QString::number(*earlier);
    return QFileInfo::exists(fileName) ? QStringLiteral("earlier file") : QString();
}

void SeriesEngine::shutDown()
{
    m_timer.stop();
    if (isRecording()) {
        // The program is going: no further picture, no preparations for another series.
        m_state.Recording = RecordingState::Idle;
        finishLog();
        syncSeries();
        m_image.setSeriesStreaming(false);
    }
    waitForSync(kShutDownSyncWaitMs);
}

SeriesLogHeader SeriesEngine::logHeader() const
{
    SeriesLogHeader header;
    header.program = QStringLiteral("Pictures in a row");
    header.version = QCoreApplication::applicationVersion();
    header.start = QDateTime::currentDateTime();
    header.driverFile = m_image.fileName();
    header.requestedSource = m_image.sourceName();
    header.camera = m_image.cameraIdentity();
    header.width = m_image.imageWidth();
    header.height = m_image.imageHeight();
    header.pixelFormat = m_image.imageHandle() ? pixelFormatName(m_image.currentFrame().format) : QString();
    if (const Camera *camera = m_image.camera())
        header.settings = camera->settingsInForce();
    header.significantBits = m_image.currentFrame().significantBits;
    header.bitsKept = significantBitsKept(header.significantBits, m_state.FileExtension);
    header.fileType = m_state.FileExtension;
    header.card = m_card->isSimulated() ? QStringLiteral("simulated")
                                        : QStringLiteral("comedi /dev/comedi%1").arg(m_state.BoardNumber);
    header.intervalMs = m_timer.interval();
    const std::pair<bool, const char *> options[] = {{m_options.number, "number"},
                                                     {m_options.time, "time"},
                                                     {m_options.channel0, "channel 0"},
                                                     {m_options.channel1, "channel 1"}};
    for (const auto &[ticked, name] : options) {
        if (ticked)
            header.options << QLatin1String(name);
    }
    // Every step saving under the same name may be what the user wants, one always-current
    // picture, but the record must not suggest that each picture was kept.
    if (!m_options.number && !m_options.time) {
        header.namesNote = m_options.channel0 || m_options.channel1
                               ? QStringLiteral("no number or time in the names: a picture replaces an earlier one "
                                                "whenever the readings repeat")
                               : QStringLiteral("no number or time in the names: every picture replaces the previous one");
    }
    return header;
}

void SeriesEngine::openLog()
{
    m_published.reset();
    if (const Camera *camera = m_image.camera(); camera && m_image.isStreaming()) {
        m_publishedAtStart = camera->framesPublished();
        m_lostAtStart = camera->framesLost();
    }
    m_logWarned = false;
    m_anySaved = false;
    m_logFailure = Status::success();
    m_savedNames.clear();
    const SeriesLogHeader header = logHeader();
    m_settingsAtStart = header.settings.value_or(CameraSettingsInForce());
    m_logPath = seriesLogPath(m_state.SaveDirectory, m_state.BaseName, header.start);
    // A base name that leads out of the directory stops the series at its first picture;
    // the log must not get out either.
    if (!checkSaveTarget(m_state.SaveDirectory, m_logPath)) {
        m_logPath.clear();
        return;
    }
    makeOutputDirectory(m_state.SaveDirectory); // a failure here is the first picture's to tell
    m_logFailure = m_log.open(m_logPath, header);
    if (!m_logFailure.ok())
        m_logPath.clear();
}

void SeriesEngine::logStep(const ImageMetadata &record, const Status &saved, const QString &replaced,
                           std::optional<double> frameAgeMs)
{
    if (!m_log.isOpen())
        return;
    // The row is the picture's own record, plus what became of its save.
    SeriesLogRow row;
    row.picture = record.picture.value_or(m_state.FrameCounter);
    row.fileName = m_state.FullFileName;
    row.scheduledMs = record.scheduledMs.value_or(0);
    row.stopwatchMs = record.stopwatchMs.value_or(m_state.ElapsedMsec);
    row.channel0 = record.channel0;
    row.channel1 = record.channel1;
    row.result = saved ? QStringLiteral("ok") : saved.reason();
    row.bytes = saved ? QFileInfo(m_state.FullFileName).size() : 0;
    row.replaced = saved ? replaced : QString();
    if (record.frameMs) {
        row.frameId = m_image.currentFrame().cameraFrameId;
        row.frameMs = record.frameMs;
        row.frameAgeMs = frameAgeMs;
    }
    row.exposureUs = record.exposureUs;
    row.gain = record.gain;
    const Status written = m_log.append(row);
    if (!written) {
        m_logFailure = written;
        if (m_anySaved)
            logFailure(written);
    }
}

void SeriesEngine::logFailure(const Status &failure)
{
    if (m_logWarned)
        return;
    m_logWarned = true;
    Q_EMIT logWarning(
        QStringLiteral("The series log cannot be written:\n%1\nThe pictures are still saved.").arg(failure.reason()));
}

void SeriesEngine::syncSeries()
{
    if (!m_anySaved)
        return;
    m_syncs.push_back(std::make_unique<SeriesSync>(m_state.SaveDirectory, m_logPath));
    m_syncPoll.start();
}

void SeriesEngine::reapSyncs()
{
    for (auto it = m_syncs.begin(); it != m_syncs.end();) {
        if (!(*it)->wait(std::chrono::milliseconds(0))) {
            ++it;
            continue;
        }
        const Status result = (*it)->result();
        const QString logPath = (*it)->logPath();
        if (!logPath.isEmpty()) {
            SeriesLog::appendTo(logPath, result ? QStringLiteral("# synced %1\n").arg(nowIso())
                                        : QStringLiteral("# not synced %1: %2\n").arg(nowIso(), result.reason()));
        }
        it = m_syncs.erase(it);
        Q_EMIT synced(logPath, result);
    }
    if (m_syncs.empty())
        m_syncPoll.stop();
}

bool SeriesEngine::isSyncing() const
{
    return !m_syncs.empty();
}

bool SeriesEngine::waitForSync(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (const auto &sync : m_syncs) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (!sync->wait(std::max(left, std::chrono::milliseconds(0))))
            break;
    }
    reapSyncs();
    return m_syncs.empty();
}
