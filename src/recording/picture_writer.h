#pragma once

#include "base/status.h"
#include "recording/disk_space.h"
#include "recording/picture_queue.h"
#include "recording/series_companion.h"
#include "recording/series_log.h"
#include "recording/series_scheduler.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

// What became of one picture of a series.
struct StepReport
{
    qint64 picture = 0;
    QString fileName;
    Status saved = Status::success();
    double stopwatchMs = 0;
    double scheduledMs = 0;
    double durationMs = 0; // from the tick to the picture's file being complete
    std::optional<double> frameMs;
    std::optional<double> frameAgeMs;
    Frame frame; // the picture, for the display
    std::optional<double> diskSecondsLeft; // until the disk's reserve, at the rate so far
};

// Writes the pictures of one series and its log on a thread of its own, in the order they were
// taken: each picture to its file, then its row to the log. It goes on after its series has
// stopped until the last picture taken is written, the end of the log too, and then has the
// directory synced. It keeps itself alive while it works, so that the program's end need not
// wait for a disk that hangs.
class PictureWriter : public std::enable_shared_from_this<PictureWriter>
{
public:
    // Saves a picture; `mayReplace` is true only for a name this series saved before.
    using Saver = std::function<Status(const Frame &, const QString &, const ImageMetadata &, bool mayReplace)>;

    // Called on the writer's thread (and the sync's, for `synced`).
    struct Callbacks
    {
        std::function<void(const StepReport &)> saved;
        // A picture could not be saved or taken: the three-line message the series stops with.
        std::function<void(const QString &message)> failed;
        // The log cannot be written, while pictures are saved; said once.
        std::function<void(const QString &message)> logWarning;
        std::function<void(const QString &logPath, const Status &result)> synced;
    };

    PictureWriter(const SeriesSettings &settings, const SeriesLogHeader &header, std::int64_t queuePictures,
                  std::int64_t queueBytes, Saver saver, Callbacks callbacks);

    PictureQueue &queue() { return m_queue; }

    void start();
    // Waits until the end of the log is written, at most until `deadline`; true when it is.
    bool waitDone(std::chrono::steady_clock::time_point deadline);

    // The log's path once it was opened; empty when it could not be.
    QString logPath() const;
    // Why the log could not be opened; empty while it could be or has not been tried.
    QString logProblem() const;
    // The numbers of the pictures taken and not yet saved, or found unsavable.
    std::vector<qint64> unsavedPictures() const { return m_queue.heldPictures(); }

private:
    void run();
    void openLog(const QString &schedule);
    void write(const PictureJob &job);
    void logRow(const PictureJob &job, const Status &result, qint64 bytes, const QString &replaced);
    void fail(const QString &fileName, const QString &reason);
    QString replacedBy(const QString &fileName) const;
    void finish(const SeriesLogEnd &end);

    const SeriesSettings m_settings;
    SeriesLogHeader m_header;
    PictureQueue m_queue;
    Saver m_saver;
    Callbacks m_callbacks;

    DiskGuard m_disk;
    SeriesLog m_log;
    SeriesCompanion m_companion;
    QString m_logPath;    // under m_mutex
    QString m_logProblem; // under m_mutex
    Status m_logFailure = Status::success();
    bool m_logTried = false;
    bool m_logWarned = false;
    bool m_failed = false;
    qint64 m_saved = 0;
    QHash<QString, qint64> m_savedNames; // name -> picture number, where names can repeat
    QStringList m_folders;               // where pictures were saved

    mutable std::mutex m_mutex;
    std::condition_variable m_doneChanged;
    bool m_done = false;
};
