#include "recording/series_engine.h"

#include "analog/analog_card.h"
#include "analog/channel_reading.h"
#include "base/stopwatch.h"
#include "naming/file_name.h"
#include "picture_files/image_files.h"
#include "recording/camera_reconnect.h"
#include "recording/disk_space.h"
#include "recording/disk_sync.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <thread>

// The way back from a series' threads to the engine: calls are queued to the engine's thread,
// and dropped once the engine is gone.
struct SeriesEngine::Link
{
    std::mutex mutex;
    SeriesEngine *engine = nullptr;
    // A saved picture on its way to the display: no other is sent until it arrived, so that a
    // busy engine thread drops pictures to show instead of piling them up.
    std::atomic<bool> frameInFlight{false};

    void post(std::function<void(SeriesEngine &)> call)
    {
        const std::lock_guard lock(mutex);
        if (!engine)
            return;
        QMetaObject::invokeMethod(
            engine, [engine = engine, call = std::move(call)] { call(*engine); }, Qt::QueuedConnection);
    }
};

// The series recording now: its schedule, and the writer that outlives it.
struct SeriesEngine::Run
{
    std::uint64_t id = 0;
    std::shared_ptr<PictureWriter> writer;
    std::unique_ptr<SeriesScheduler> scheduler;
    bool endAsked = false;
    QString failure; // the message of a picture that could not be saved, once one could not
    std::unique_ptr<CameraReconnect> reconnect; // while the camera is away
};

namespace {

// The writer's queue holds this much time of pictures, as long as they fit in kQueueBytes: a
// disk that stalls for up to that long costs no picture. Freezing a file system (a snapshot, a
// full journal) first writes out everything cached, so the stall is often longer than it looks:
// a one-second freeze held the writer for two and a half seconds here.
constexpr int kQueueMs = 5000;
// After Stop, tick 0 waits for its frame a frame's time more, and at least this long.
constexpr int kFirstFrameGraceMs = 100;

// What the writer's queue holds at most: pictures of `frameBytes` each, `pictures` of them unless
// fewer fill `maxBytes` (an empty queue takes one picture of any size).
QString queueNote(std::int64_t pictures, std::int64_t maxBytes, std::int64_t frameBytes, int intervalMs)
{
    constexpr double MiB = 1 << 20;
    const std::int64_t fit = frameBytes > 0 ? std::max<std::int64_t>(1, maxBytes / frameBytes) : pictures;
    const std::int64_t held = std::min(pictures, fit);
    const QString seconds = QString::number(double(held * intervalMs) / 1000.0, 'g', 3);
    const QString count = held == 1 ? QStringLiteral("1 picture") : QStringLiteral("%1 pictures").arg(held);
    if (held == pictures)
        return QStringLiteral("%1, %2 s of the series (time bound; memory bound %3 MiB not reached)")
            .arg(count, seconds)
            .arg(double(maxBytes) / MiB, 0, 'f', 0);
    return QStringLiteral("%1, %2 s of the series (memory bound %3 MiB; %4 pictures would take %5 MiB)")
        .arg(count, seconds)
        .arg(double(maxBytes) / MiB, 0, 'f', 0)
        .arg(pictures)
        .arg(double(pictures * frameBytes) / MiB, 0, 'f', 0);
}

// Said before a series whose camera streams more slowly than its ticks come.
QString cameraRateNote(const PictureSource &source, int intervalMs, bool streams)
{
    const Camera *camera = source.camera();
    if (!camera || !streams || !camera->streamsThroughSeries() || camera->framePeriod().count() <= 0)
        return {};
    const double delivered = 1e9 / double(camera->framePeriod().count());
    const double asked = 1000.0 / intervalMs;
    if (delivered >= asked * 0.999)
        return {};
    return QStringLiteral("the camera delivers %1 frames/s; an interval of %2 ms asks for %3: about %4 % of the "
                          "ticks will be missed")
        .arg(delivered, 0, 'g', 3)
        .arg(intervalMs)
        .arg(asked, 0, 'g', 3)
        .arg(std::lround(100.0 * (1.0 - delivered / asked)));
}

std::uint64_t nextRunId()
{
    static std::atomic<std::uint64_t> last{0};
    return ++last;
}

} // namespace

SeriesEngine::SeriesEngine(QObject *parent)
    : QObject(parent), m_timer(this), m_source(this), m_link(std::make_shared<Link>())
{
    m_link->engine = this;
    m_saver = [](const Frame &frame, const QString &path, const ImageMetadata &record, bool mayReplace) {
        return saveImage(frame, path, record, mayReplace ? SaveMode::ReplaceOwn : SaveMode::CreateNew);
    };
    connect(&m_source, &PictureSource::liveFrame, this, &SeriesEngine::frameToShow);
    connect(&m_source, &PictureSource::cameraLost, this, &SeriesEngine::onCameraLost);
}

SeriesEngine::~SeriesEngine()
{
    shutDown();
    const std::lock_guard lock(m_link->mutex);
    m_link->engine = nullptr;
}

void SeriesEngine::setCard(std::unique_ptr<AnalogCard> card)
{
    const std::lock_guard lock(m_cardMutex);
    m_card = std::move(card);
}

void SeriesEngine::setLimits(std::optional<qint64> pictures, std::optional<double> durationMs)
{
    m_maxPictures = pictures;
    m_maxDurationMs = durationMs;
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
    QString text;
    {
        const std::lock_guard lock(m_cardMutex);
        text = takeChannelReading(m_state, *m_card, channel, QLocale());
    }
    Q_EMIT channelRead(channel, text);
    return text;
}

SeriesSettings SeriesEngine::seriesSettings() const
{
    SeriesSettings s;
    s.directory = m_state.SaveDirectory;
    s.baseName = m_state.BaseName;
    s.extension = m_state.FileExtension;
    s.options = m_options;
    s.intervalMs = std::max(1, m_timer.interval());
    s.stopwatch = m_state.StopwatchHandle;
    s.board = m_state.BoardNumber;
    s.locale = QLocale();
    s.maxPictures = m_maxPictures;
    s.maxDurationMs = m_maxDurationMs;
    if (const Camera *camera = m_source.camera()) {
        s.cameraAtStart = camera->settingsInForce();
        s.cameraAtStart.common = camera->commonSettings();
    }
    s.stopOnCameraLoss = m_stopOnCameraLoss;
    s.startNs = m_startNs;
    const Frame &first = m_source.firstFrame();
    s.pictureBytes = pictureBytesAtMost(first.width, first.height, first.format, s.extension);
    s.diskReserveBytes = m_diskReserve;
    return s;
}

std::shared_ptr<PictureWriter> SeriesEngine::makeWriter(const SeriesSettings &settings)
{
    const std::int64_t pictures =
        m_queueBound ? m_queueBound->first : std::max<std::int64_t>(1, (kQueueMs + settings.intervalMs - 1) / settings.intervalMs);
    const std::int64_t bytes = m_queueBound ? m_queueBound->second : kQueueBytes;
    SeriesLogHeader header = logHeader(settings);
    header.queue = queueNote(pictures, bytes, m_source.firstFrame().data.size(), settings.intervalMs);
    const std::uint64_t id = m_run ? m_run->id : 0;
    const std::shared_ptr<Link> link = m_link;
    PictureWriter::Callbacks callbacks;
    callbacks.saved = [link, id](const StepReport &saved) {
        StepReport report = saved;
        if (link->frameInFlight.exchange(true))
            report.frame = Frame();
        link->post([id, report, link](SeriesEngine &e) {
            if (!report.frame.isNull())
                link->frameInFlight = false;
            const bool current = e.m_run && e.m_run->id == id;
            Q_EMIT e.pictureSaved(report);
            // After Stop the display goes back to the live picture.
            if (current && !report.frame.isNull())
                Q_EMIT e.frameToShow(report.frame);
        });
    };
    callbacks.failed = [link, id](const QString &message) {
        link->post([id, message](SeriesEngine &e) {
            if (e.m_run && e.m_run->id == id && e.m_run->failure.isEmpty())
                e.requestEnd(message);
            else
                Q_EMIT e.saveFailed(message);
        });
    };
    callbacks.logWarning = [link](const QString &message) {
        link->post([message](SeriesEngine &e) { Q_EMIT e.logWarning(message); });
    };
    callbacks.synced = [link](const QString &logPath, const Status &result) {
        link->post([logPath, result](SeriesEngine &e) { Q_EMIT e.synced(logPath, result); });
    };
    return std::make_shared<PictureWriter>(settings, header, pictures, bytes, m_saver, callbacks);
}

void SeriesEngine::start()
{
    const std::optional<RecordingState> next = seriesTransition(m_state.Recording, SeriesEvent::Start);
    if (!next)
        return;
    m_state.Recording = *next;
    m_timer.setActive(true);
    // Before the window switches the live picture off, so that the camera never stops.
    if (m_streamDuringSeries)
        m_source.setSeriesStreaming(true);
    Q_EMIT started();

    const SeriesSettings settings = seriesSettings();
    m_run = std::make_unique<Run>();
    m_run->id = nextRunId();
    m_run->writer = makeWriter(settings);
    m_writers.erase(std::remove_if(m_writers.begin(), m_writers.end(),
                                   [](const auto &w) { return w->waitDone(std::chrono::steady_clock::now()); }),
                    m_writers.end());
    m_writers.push_back(m_run->writer);
    const std::uint64_t id = m_run->id;
    const std::shared_ptr<Link> link = m_link;
    SeriesScheduler::Callbacks callbacks;
    callbacks.taken = [link, id](const TakenPicture &taken) {
        link->post([id, taken](SeriesEngine &e) { e.onTaken(id, taken); });
    };
    callbacks.finished = [link, id](const QString &failure) {
        link->post([id, failure](SeriesEngine &e) {
            if (!e.m_run || e.m_run->id != id)
                return;
            const QString message = failure.isEmpty() ? e.m_run->failure : failure;
            e.end(message.isEmpty() ? SeriesEvent::Stop : SeriesEvent::StepFailed, message);
        });
    };
    callbacks.away = [link, id](const QString &reason) {
        link->post([id, reason](SeriesEngine &e) { e.onCameraAway(id, reason); });
    };
    callbacks.missed = [link, id](qint64 total) {
        link->post([id, total](SeriesEngine &e) {
            if (e.m_run && e.m_run->id == id)
                Q_EMIT e.ticksMissedChanged(total);
        });
    };
    m_run->scheduler = std::make_unique<SeriesScheduler>(settings, m_source, *m_card, m_cardMutex,
                                                         m_run->writer->queue(), *m_clock, callbacks);
    m_run->writer->start();
    m_run->scheduler->start();
}

void SeriesEngine::onTaken(std::uint64_t id, const TakenPicture &taken)
{
    if (!m_run || m_run->id != id)
        return;
    m_state.FrameCounter = taken.picture + 1;
    m_state.ElapsedMsec = taken.stopwatchMs;
    m_state.AnalogSuffix = taken.analogSuffix;
    m_state.FullFileName = taken.fileName;
    for (int channel = 0; channel < 2; ++channel) {
        if (!taken.channelText[channel])
            continue;
        m_state.LastReading[channel] = taken.readings[channel];
        Q_EMIT channelRead(channel, *taken.channelText[channel]);
    }
    Q_EMIT composed(taken.numberAndTime, taken.fileName);
}

void SeriesEngine::stop()
{
    requestEnd(QString());
}

void SeriesEngine::requestEnd(const QString &failure)
{
    if (!isRecording() || !m_run)
        return;
    if (m_run->failure.isEmpty())
        m_run->failure = failure;
    if (m_run->endAsked)
        return;
    m_run->endAsked = true;
    // A camera opened again after this would come too late for the series.
    m_run->reconnect.reset();
    m_run->scheduler->requestStop();
    // Tick 0 may still wait for its frame: it gets a frame's time more.
    std::chrono::nanoseconds frameTime{0};
    if (const Camera *camera = m_source.camera())
        frameTime = camera->framePeriod() + camera->exposure();
    const auto grace = std::max<std::chrono::milliseconds>(std::chrono::ceil<std::chrono::milliseconds>(frameTime),
                                                           std::chrono::milliseconds(kFirstFrameGraceMs));
    QTimer::singleShot(grace, this, [this, id = m_run->id] {
        if (m_run && m_run->id == id)
            m_run->scheduler->interruptWaits();
    });
}

void SeriesEngine::end(SeriesEvent why, const QString &message, bool announce)
{
    const std::optional<RecordingState> next = seriesTransition(m_state.Recording, why);
    if (!next || !m_run)
        return;
    m_state.Recording = *next;
    m_timer.setActive(false);
    const std::unique_ptr<Run> run = std::move(m_run);
    run->reconnect.reset();
    run->scheduler->stop(); // its thread has ended, or is ended now
    m_state.FrameCounter = 1;
    m_state.ElapsedMsec = 0;
    // The window's Stop switches the live picture on: the camera streams on for it without a
    // break rather than being stopped in between.
    if (announce && m_liveAfterSeries)
        m_source.setLive(true);
    m_source.setSeriesStreaming(false);
    m_source.releaseLostCamera();
    if (announce)
        Q_EMIT stopped(why, message);
}

void SeriesEngine::onCameraLost()
{
    // A series still uses the camera until it has ended: the camera is let go then.
    if (!isRecording())
        m_source.releaseLostCamera();
}

qint64 SeriesEngine::shutDown()
{
    return shutDown(std::chrono::steady_clock::now() + std::chrono::milliseconds(kShutDownWaitMs));
}

qint64 SeriesEngine::shutDown(std::chrono::steady_clock::time_point deadline)
{
    // The program is going: no further picture, no preparations for another series.
    end(SeriesEvent::Stop, QString(), false);
    if (m_shutDown)
        return unsavedPictures();
    m_shutDown = true;
    const auto noted = deadline - std::chrono::milliseconds(kNoteWaitMs);
    for (const auto &writer : m_writers) {
        if (!writer->waitDone(noted))
            break;
    }
    DiskSync::shared().waitIdle(noted);
    noteUnsaved(deadline);
    return unsavedPictures();
}

qint64 SeriesEngine::unsavedPictures() const
{
    qint64 count = 0;
    for (const auto &writer : m_writers)
        count += qint64(writer->unsavedPictures().size());
    return count;
}

// The pictures a writer still holds are named in its log, on a thread of its own: the log may
// lie on the disk that holds the writer up.
void SeriesEngine::noteUnsaved(std::chrono::steady_clock::time_point deadline)
{
    struct Notes
    {
        std::mutex mutex;
        std::condition_variable written;
        bool done = false;
        std::vector<std::pair<QString, QString>> lines; // log, line
    };
    auto notes = std::make_shared<Notes>();
    for (const auto &writer : m_writers) {
        const std::vector<qint64> unsaved = writer->unsavedPictures();
        if (!unsaved.empty() && !writer->logPath().isEmpty())
            notes->lines.emplace_back(writer->logPath(), formatLogUnsaved(unsaved));
    }
    if (notes->lines.empty())
        return;
    std::thread([notes] {
        const OutlivingThread counted;
        for (const auto &[log, line] : notes->lines)
            SeriesLog::appendTo(log, line);
        const std::lock_guard lock(notes->mutex);
        notes->done = true;
        notes->written.notify_all();
    }).detach();
    std::unique_lock lock(notes->mutex);
    notes->written.wait_until(lock, deadline, [&] { return notes->done; });
}

QString SeriesEngine::cameraRateNote() const
{
    return ::cameraRateNote(m_source, std::max(1, m_timer.interval()), m_streamDuringSeries);
}

QString SeriesEngine::logPath() const
{
    return m_writers.empty() ? QString() : m_writers.back()->logPath();
}

QString SeriesEngine::logProblem() const
{
    return m_writers.empty() ? QString() : m_writers.back()->logProblem();
}

bool SeriesEngine::waitForSync(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (const auto &writer : m_writers) {
        if (!writer->waitDone(deadline))
            return false;
    }
    return DiskSync::shared().waitIdle(deadline);
}

SeriesLogHeader SeriesEngine::logHeader(const SeriesSettings &settings) const
{
    SeriesLogHeader header;
    header.program = QStringLiteral("Pictures in a row");
    header.version = QCoreApplication::applicationVersion();
    header.start = QDateTime::currentDateTime();
    // A start set for an instant to come is that instant.
    if (m_startNs)
        header.start = header.start.addMSecs(std::llround(double(*m_startNs - stopwatchClockNs()) / 1e6));
    header.driverFile = m_source.fileName();
    header.requestedSource = m_source.sourceName();
    header.camera = m_source.cameraIdentity();
    const Frame &first = m_source.firstFrame();
    header.width = first.width;
    header.height = first.height;
    header.pixelFormat = first.isNull() ? QString() : pixelFormatName(first.format);
    if (m_source.camera())
        header.settings = settings.cameraAtStart;
    header.significantBits = first.significantBits;
    header.bitsKept = significantBitsKept(header.significantBits, settings.extension);
    header.fileType = settings.extension;
    header.card = m_card->isSimulated() ? QStringLiteral("simulated")
                                        : QStringLiteral("comedi /dev/comedi%1").arg(m_state.BoardNumber);
    header.intervalMs = settings.intervalMs;
    header.cameraRateNote = ::cameraRateNote(m_source, settings.intervalMs, m_streamDuringSeries);
    header.diskNote = diskForecast();
    header.remoteControl = m_remoteControlNote;
    const std::pair<bool, const char *> options[] = {{m_options.number, "number"},
                                                     {m_options.time, "time"},
                                                     {m_options.channel0, "channel 0"},
                                                     {m_options.channel1, "channel 1"}};
    for (const auto &[ticked, name] : options) {
        if (ticked)
            header.options << QLatin1String(name);
    }
    header.namesNote = namesNote(m_options);
    return header;
}

QString SeriesEngine::diskForecast() const
{
    const std::optional<std::int64_t> free = freeBytes(m_state.SaveDirectory);
    if (!free)
        return {};
    const Frame &first = m_source.firstFrame();
    const std::int64_t picture = pictureBytesAtMost(first.width, first.height, first.format, m_state.FileExtension);
    const int intervalMs = std::max(1, m_timer.interval());
    DiskPlan plan{*free, diskReserve(picture, m_diskReserve), picture, intervalMs, m_maxPictures};
    // A series that ends after a time takes the pictures of the ticks before it.
    if (m_maxDurationMs) {
        const auto ticks = std::int64_t(std::ceil(*m_maxDurationMs / intervalMs));
        plan.pictures = std::min(plan.pictures.value_or(ticks), ticks);
    }
    return ::diskForecast(plan);
}

void SeriesEngine::onCameraAway(std::uint64_t id, const QString &reason)
{
    if (!m_run || m_run->id != id)
        return;
    const std::optional<CameraReopening> reopening = m_source.reopening();
    m_source.letLostCameraGo(reason);
    Q_EMIT cameraAway(reason);
    // A camera given without a driver file cannot be opened again: the series goes on without it.
    if (!reopening || m_run->endAsked)
        return;
    const std::shared_ptr<Link> link = m_link;
    m_run->reconnect = std::make_unique<CameraReconnect>(*reopening, thread(), [link, id](std::unique_ptr<Camera> c) {
        // Held through a shared pointer, since a queued call is copied; a call dropped lets it go.
        auto camera = std::make_shared<std::unique_ptr<Camera>>(std::move(c));
        link->post([id, camera](SeriesEngine &e) { e.onCameraReopened(id, std::move(*camera)); });
    });
}

void SeriesEngine::onCameraReopened(std::uint64_t id, std::unique_ptr<Camera> camera)
{
    if (!m_run || m_run->id != id || m_run->endAsked || !camera)
        return;
    m_run->reconnect.reset();
    m_source.useReopened(std::move(camera));
    m_run->scheduler->cameraBack();
    Q_EMIT cameraBack();
}
