#pragma once

#include "base/status.h"
#include "recording/capture_state.h"
#include "recording/capture_timer.h"
#include "recording/picture_source.h"
#include "recording/picture_writer.h"
#include "recording/series.h"
#include "recording/series_scheduler.h"

#include <QObject>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class AnalogCard;

// The series of pictures: it owns the picture source and the analog card, composes the names,
// and runs each series on two threads of its own, one that keeps the schedule and takes the
// pictures, one that writes them and the log. It knows no widgets: the window and the `record`
// command drive the same engine and show what it reports in their own way.
//
// All calls come from the thread the engine lives on, and all its signals arrive there.
class SeriesEngine : public QObject
{
    Q_OBJECT
public:
    // How long the program's end waits, at most, for the pictures of its series to be written
    // and to reach the disk; the last kNoteWaitMs of it go to noting in the logs the pictures
    // that were not written.
    static constexpr int kShutDownWaitMs = 5000;
    static constexpr int kNoteWaitMs = 500;

    explicit SeriesEngine(QObject *parent = nullptr);
    ~SeriesEngine() override;

    CaptureState &state() { return m_state; }
    const CaptureState &state() const { return m_state; }
    // The capture timer: its interval is the one the next series runs at.
    CaptureTimer &timer() { return m_timer; }
    PictureSource &source() { return m_source; }

    // The analog card; the engine owns it.
    void setCard(std::unique_ptr<AnalogCard> card);
    AnalogCard &card() { return *m_card; }

    void setOptions(const NameOptions &options) { m_options = options; }
    const NameOptions &options() const { return m_options; }
    // Whether a camera that streams keeps streaming through a series (the default), so that a
    // tick takes the frame captured nearest it instead of an acquisition of its own.
    void setStreamDuringSeries(bool on) { m_streamDuringSeries = on; }
    // Whether the live picture goes on when a series ends, as the window's Stop has it: a camera
    // that streamed through the series then streams on without a break.
    void setLiveAfterSeries(bool on) { m_liveAfterSeries = on; }
    // Where the next series ends by itself; none by default.
    void setLimits(std::optional<qint64> pictures, std::optional<double> durationMs);
    // Whether a camera that stops answering ends the series (as `record --stop-on-camera-loss`
    // asks); by default the series goes on without pictures while it is away.
    void setStopOnCameraLoss(bool on) { m_stopOnCameraLoss = on; }
    // The room the writer keeps free on the disk; none: the larger of ten pictures and 256 MiB.
    void setDiskReserve(std::optional<std::int64_t> bytes) { m_diskReserve = bytes; }
    // The instant of the stopwatch's clock the next series starts at; none: at once.
    void setStartInstant(std::optional<std::int64_t> clockNs) { m_startNs = clockNs; }
    // Whether scripts can reach the series on the session bus, as the log's header says it.
    void setRemoteControlNote(const QString &note) { m_remoteControlNote = note; }

    // Composes FullFileName from the state, the options and fresh readings of the ticked
    // channels; reports the pieces through channelRead and composed.
    void compose();
    // One reading of channel 0 or 1: appends it to AnalogSuffix and returns the label text.
    QString readChannel(int channel);

    bool isRecording() const { return m_state.Recording == RecordingState::Recording; }

    // Starts a series: the caller has made the checks that may refuse it. The first picture is
    // taken at once, on the series' own thread.
    void start();
    // Ends a running series as the user's Stop does, without waiting for it; nothing happens
    // when idle. No further picture is taken, and a wait for a frame ends at once, tick 0's
    // after a frame's time. `stopped` says when the series is over; its pictures are still
    // written after that.
    void stop();
    // The program ends: no further picture is taken, a running series ends at once without the
    // preparations for the next one, and the pictures taken are written and reach the disk,
    // waiting for that until kNoteWaitMs before `deadline` (kShutDownWaitMs from now by default).
    // The pictures still unwritten then are named in their series' logs, where these can be
    // written by the deadline. Only the first call waits; it returns the number of pictures
    // left unwritten.
    qint64 shutDown(std::chrono::steady_clock::time_point deadline);
    qint64 shutDown();
    // The pictures taken by any series and not yet written.
    qint64 unsavedPictures() const;

    // Said before Start when the camera streams more slowly than the interval asks: how many of
    // the ticks will have no picture. Empty otherwise.
    QString cameraRateNote() const;
    // Said before Start when the next series will not fit on its disk above the reserve, or an
    // open-ended one reaches the reserve within an hour. Empty otherwise.
    QString diskForecast() const;

    // The log of the last series started, once it was opened; empty when it could not be.
    QString logPath() const;
    // Why the log of the last series started could not be opened; empty when it could.
    QString logProblem() const;
    // Waits until the pictures of every series are written, their logs ended and synced, at
    // most `timeoutMs`; true when all are.
    bool waitForSync(int timeoutMs);

    // In place of the system's clock, for tests: the engine does not own it.
    void setClock(SeriesClock *clock) { m_clock = clock; }
    // In place of saveImage(), for tests.
    void setSaver(PictureWriter::Saver saver) { m_saver = std::move(saver); }
    // The bound of the writer's queue: at most this many pictures and bytes. By default five
    // seconds of pictures, and never more than kQueueBytes.
    static constexpr std::int64_t kQueueBytes = std::int64_t(512) << 20;
    void setQueueBound(std::int64_t pictures, std::int64_t bytes) { m_queueBound = {pictures, bytes}; }

Q_SIGNALS:
    // The series is recording; its first picture follows at once.
    void started();
    void channelRead(int channel, const QString &text);
    // A name was composed: the number-and-time piece and the whole name.
    void composed(const QString &numberAndTime, const QString &fullFileName);
    // A picture of the series was saved.
    void pictureSaved(const StepReport &report);
    // What the display shows: live frames, and during a series each picture saved.
    void frameToShow(const Frame &frame);
    // The series ended; `message` is empty after Stop and says what failed otherwise.
    void stopped(SeriesEvent why, const QString &message);
    // A picture taken before the series ended could not be saved afterwards: the message
    // the series would have stopped with.
    void saveFailed(const QString &message);
    // The series goes on, but its log cannot be written; said once per series.
    void logWarning(const QString &message);
    // The pictures and the log of the series logged at `logPath` are on the disk.
    void synced(const QString &logPath, const Status &result);
    // The camera stopped answering during a series; the series goes on without pictures while it is away.
    void cameraAway(const QString &reason);
    // The camera answers again; the next tick takes its picture.
    void cameraBack();
    // The count of ticks without a picture in the running series grew to `total`.
    void ticksMissedChanged(qint64 total);

private:
    struct Link;
    struct Run;

    // Asks the running series to end, with `failure` as its message when a picture failed.
    void requestEnd(const QString &failure);
    // Ends the series, once its schedule's thread is over or to be ended at once; `announce`
    // says so through `stopped` (not when the program ends).
    void end(SeriesEvent why, const QString &message, bool announce = true);
    void noteUnsaved(std::chrono::steady_clock::time_point deadline);
    SeriesSettings seriesSettings() const;
    SeriesLogHeader logHeader(const SeriesSettings &settings) const;
    std::shared_ptr<PictureWriter> makeWriter(const SeriesSettings &settings);
    void onTaken(std::uint64_t runId, const TakenPicture &taken);
    void onCameraLost();
    // The series' camera is away (camera_loss.cpp): it is let go and opened again meanwhile.
    void onCameraAway(std::uint64_t runId, const QString &reason);
    void onCameraReopened(std::uint64_t runId, std::unique_ptr<Camera> camera);

    CaptureState m_state;
    NameOptions m_options;
    CaptureTimer m_timer;
    PictureSource m_source;
    std::unique_ptr<AnalogCard> m_card;
    std::mutex m_cardMutex; // the card is read by a series' schedule too
    bool m_streamDuringSeries = true;
    bool m_liveAfterSeries = false;
    bool m_shutDown = false;
    std::optional<qint64> m_maxPictures;
    std::optional<double> m_maxDurationMs;
    bool m_stopOnCameraLoss = false;
    std::optional<std::int64_t> m_diskReserve;
    std::optional<std::int64_t> m_startNs;
    QString m_remoteControlNote;

    SeriesClock m_systemClock;
    SeriesClock *m_clock = &m_systemClock;
    PictureWriter::Saver m_saver;
    std::optional<std::pair<std::int64_t, std::int64_t>> m_queueBound;

    std::shared_ptr<Link> m_link;
    std::unique_ptr<Run> m_run;                       // the series recording now
    std::vector<std::shared_ptr<PictureWriter>> m_writers; // of every series, until written
};
