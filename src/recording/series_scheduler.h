#pragma once

#include "analog/channel_reading.h"
#include "cameras/camera.h"
#include "recording/schedule.h"
#include "recording/series.h"

#include <QLocale>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

class AnalogCard;
class PictureQueue;
struct PictureJob;
class PictureSource;

// What a series was started with; it does not change while the series runs.
struct SeriesSettings
{
    QString directory;
    QString baseName;
    QString extension;
    NameOptions options;
    int intervalMs = 500;
    std::int32_t stopwatch = 0; // the handle of the stopwatch set whose watch 0 times the series
    std::int16_t board = 0;
    QLocale locale;
    // Where the series ends by itself: after this many pictures, or before the first tick at or
    // after this many milliseconds.
    std::optional<qint64> maxPictures;
    std::optional<double> maxDurationMs;
    // How the camera was set up at Start: each picture's exposure and gain where its frame has none.
    CameraSettingsInForce cameraAtStart;
    // A camera that stops answering ends the series, instead of costing only the ticks it is away.
    bool stopOnCameraLoss = false;
    // The instant of Start on the series' clock; empty: when the schedule's thread begins.
    std::optional<std::int64_t> startNs;
    // The most a picture takes on the disk, and the reserve the writer keeps free there (empty:
    // the larger of ten pictures and 256 MiB).
    std::int64_t pictureBytes = 0;
    std::optional<std::int64_t> diskReserveBytes;
};

// A picture the schedule took, as the window shows it: the name and the readings in it.
struct TakenPicture
{
    qint64 picture = 0;
    double stopwatchMs = 0;
    QString numberAndTime;
    QString fileName;
    QString analogSuffix;
    std::optional<QString> channelText[2]; // the label text of each channel read
    ChannelReadingState::ChannelRecord readings[2];
};

// The schedule of a series on a thread of its own. At every tick of the grid it reads the
// stopwatch and the ticked channels, composes the name, takes the picture the camera has for
// the tick and hands it to the writer's queue; it never waits on a disk. A tick whose picture
// finds no room in the queue, or that came while the previous picture was still being taken,
// is missed and counted.
class SeriesScheduler
{
public:
    struct Callbacks
    {
        std::function<void(const TakenPicture &)> taken;
        // The series is over, and its end is in the writer's queue: it was stopped, its limit
        // was reached, or a picture could not be taken (then `failure` is the three-line message
        // it stops with).
        std::function<void(const QString &failure)> finished;
        // The camera stopped answering; until cameraBack() every tick is missed.
        std::function<void(const QString &reason)> away;
        // The count of missed ticks grew.
        std::function<void(qint64 total)> missed;
    };

    SeriesScheduler(const SeriesSettings &settings, PictureSource &source, AnalogCard &card, std::mutex &cardMutex,
                    PictureQueue &queue, SeriesClock &clock, Callbacks callbacks);
    ~SeriesScheduler();

    // Starts the thread; the first picture is taken at once, at tick 0, the stopwatch's zero.
    // A camera whose stream begins at Start sends its first frame first: the grid begins then.
    void start();
    // Asks the series to end without waiting for it: no further picture is taken, and a wait for
    // a frame ends at once, unless it is tick 0's (interruptWaits() ends that one). The thread
    // then hands the end of the series to the writer and calls `finished`.
    void requestStop();
    // Ends the camera's waits for a frame, tick 0's too.
    void interruptWaits();
    // Ends the series at once, tick 0's wait too, and waits for the thread.
    void stop();
    // The source holds the camera again, after `away`: the next tick takes its picture.
    void cameraBack() { m_cameraBack = true; }

    // What the series came to; read once the thread has ended.
    qint64 picturesTaken() const { return m_pictures; }
    qint64 ticksMissed() const { return m_missed; }
    bool failed() const { return m_failed; }
    QString priority() const;
    // The camera's frame counts from the first picture's frame to the last one taken; empty
    // when the camera did not stream.
    std::optional<std::uint64_t> framesReceived() const;
    std::uint64_t framesLost() const { return m_framesLost; }

private:
    void run();
    // One tick: true to go on.
    bool serve(std::int64_t tick);
    bool sleepTo(Schedule::Next &next);
    bool countMissed(const Schedule::Next &next);
    static std::optional<std::int64_t> endTick(const SeriesSettings &settings, std::int64_t intervalNs);
    void countFrames(const Frame &frame);
    // The frames the camera in use gave from the first picture's frame on, added to the counts.
    void tallyFrames();
    // The camera was lost: the gap is logged from the first tick after the last picture.
    void goAway(const QString &reason);
    // Whether the camera is back for `tick`; logs the gap's end.
    bool comeBack(std::int64_t tick);
    void pushJob(PictureJob job);
    void pushNote(const QString &note);
    void reportMissed();

    SeriesSettings m_settings;
    PictureSource &m_source;
    AnalogCard &m_card;
    std::mutex &m_cardMutex;
    PictureQueue &m_queue;
    SeriesClock &m_clock;
    Callbacks m_callbacks;
    std::optional<Schedule> m_schedule;
    std::optional<std::int64_t> m_endTick; // the first tick at or after the duration

    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stop = false;
    bool m_firstServed = false;
    QString m_priority;

    qint64 m_pictures = 0;
    qint64 m_missed = 0;
    bool m_failed = false;
    QString m_failure;
    std::int64_t m_lastFrameBytes = 0;
    std::optional<std::uint64_t> m_firstSequence; // of the camera in use
    std::uint64_t m_lostAtFirst = 0;
    std::optional<std::uint64_t> m_framesReceived; // by the cameras tallied
    std::uint64_t m_framesLost = 0;

    qint64 m_missedReported = 0;
    std::int64_t m_lastPictureTick = -1;
    bool m_away = false;
    std::int64_t m_awayTick = 0; // the first tick of the gap
    std::optional<std::int64_t> m_queueFullTick; // the first tick the writer's queue had no room for
    std::atomic<bool> m_cameraBack{false};
};
