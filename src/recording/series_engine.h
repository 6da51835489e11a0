#pragma once

#include "recording/capture_state.h"
#include "base/status.h"
#include "recording/series.h"
#include "recording/series_log.h"

#include <QHash>
#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

class AnalogCard;
class ImageControl;
class SeriesSync;

// Which pieces a composed name carries between the base name and the extension.
struct NameOptions
{
    bool number = false;
    bool time = true;
    bool channel0 = true;
    bool channel1 = true;
};

// What became of one capture step.
struct StepReport
{
    qint64 picture = 0;
    QString fileName;
    Status saved = Status::success();
    double stopwatchMs = 0;
    double scheduledMs = 0;
    double durationMs = 0; // how long the whole step took
    std::optional<double> frameMs;
    std::optional<double> frameAgeMs;
};

// The series of pictures: composition of the names, the capture step, Start and Stop, the
// capture timer, the stopwatch and the series log. It knows no widgets: the window and the
// `record` command drive the same engine and show what it reports in their own way.
//
// All calls come from one thread, the one the engine lives on; its timer ticks there too, so
// a step never overlaps another call.
class SeriesEngine : public QObject
{
    Q_OBJECT
public:
    // How long the end of the program waits for the pictures of a series to reach the disk.
    static constexpr int kShutDownSyncWaitMs = 5000;

    explicit SeriesEngine(ImageControl &image, QObject *parent = nullptr);
    ~SeriesEngine() override;

    CaptureState &state() { return m_state; }
    const CaptureState &state() const { return m_state; }
    // The capture timer: its interval is the one in force for the next series.
    QTimer &timer() { return m_timer; }

    // The analog card; the engine owns it.
    void setCard(std::unique_ptr<AnalogCard> card);
    AnalogCard &card() { return *m_card; }

    void setOptions(const NameOptions &options) { m_options = options; }
    // Whether a streaming camera keeps streaming through a series (the default), so that a step
    // takes the newest frame instead of starting an acquisition of its own.
    void setStreamDuringSeries(bool on) { m_streamDuringSeries = on; }
    const NameOptions &options() const { return m_options; }

    // Composes FullFileName from the state, the options and fresh readings of the ticked
    // channels; reports the pieces through channelRead and composed.
    void compose();
    // One reading of channel 0 or 1: appends it to AnalogSuffix and returns the label text.
    QString readChannel(int channel);

    bool isRecording() const { return m_state.Recording == RecordingState::Recording; }

    // Starts a series: the caller has made the checks that may refuse it. The first picture
    // is taken at once, before this returns.
    void start();
    // Ends a running series as the user's Stop does; nothing happens when idle.
    void stop();
    // The capture step: one picture acquired, named and saved.
    void step();
    // The program ends: no further picture is taken, a running series ends without the
    // preparations for the next one, and the pictures of the last series are written to the
    // disk, waiting for that at most kShutDownSyncWaitMs.
    void shutDown();

    // The log of the last series started; empty when it could not be created.
    QString logPath() const { return m_logPath; }
    // Whether a series' pictures are still being written to the disk.
    bool isSyncing() const;
    // Waits until every series' pictures are on the disk, at most `timeoutMs`; true when done.
    bool waitForSync(int timeoutMs);

Q_SIGNALS:
    // The series is recording; its first step follows at once.
    void started();
    void channelRead(int channel, const QString &text);
    // A name was composed: the number-and-time piece and the whole name.
    void composed(const QString &numberAndTime, const QString &fullFileName);
    // A picture of the series was saved.
    void pictureSaved(const StepReport &report);
    // The series ended; `message` is empty after Stop and says what failed otherwise.
    void stopped(SeriesEvent why, const QString &message);
    // The series goes on, but its log cannot be written; said once per series.
    void logWarning(const QString &message);
    // The pictures and the log of the series logged at `logPath` are on the disk.
    void synced(const QString &logPath, const Status &result);

private:
    void end(SeriesEvent why, const QString &message);
    void finishLog();
    void takeFrameTimes(ImageMetadata &metadata, std::optional<double> &frameAgeMs);
    void countFrames();
    void openLog();
    SeriesLogHeader logHeader() const;
    void logStep(const ImageMetadata &record, const Status &saved, const QString &replaced,
                 std::optional<double> frameAgeMs);
    void logFailure(const Status &failure);
    QString replacedBy(const QString &fileName) const;
    void syncSeries();
    void reapSyncs();

    ImageControl &m_image;
    std::unique_ptr<AnalogCard> m_card;
    CaptureState m_state;
    NameOptions m_options;
    QTimer m_timer;
    QTimer m_syncPoll;

    SeriesLog m_log;
    QString m_logPath;
    Status m_logFailure = Status::success();
    bool m_logWarned = false;
    bool m_anySaved = false;
    QHash<QString, qint64> m_savedNames; // name -> picture number, in this series
    bool m_streamDuringSeries = true;
    // The camera's frame counts at Start and after the last step, and the last step's time.
    std::uint64_t m_publishedAtStart = 0;
    std::uint64_t m_lostAtStart = 0;
    std::optional<std::uint64_t> m_published;
    std::uint64_t m_lost = 0;
    double m_lastStepMs = 0;
    std::vector<std::unique_ptr<SeriesSync>> m_syncs;
    // The camera's settings at Start: each picture's exposure and gain where its frame has none.
    CameraSettingsInForce m_settingsAtStart;
};
