#include "recording/picture_writer.h"

#include "base/stopwatch.h"
#include "picture_files/temporary_files.h"
#include "recording/disk_sync.h"
#include "recording/save_target.h"
#include "recording/series.h"
#include "base/thread_name.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <thread>

namespace {

QString nowIso()
{
    const QDateTime now = QDateTime::currentDateTime();
    return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

} // namespace

PictureWriter::PictureWriter(const SeriesSettings &settings, const SeriesLogHeader &header,
                             std::int64_t queuePictures, std::int64_t queueBytes, Saver saver, Callbacks callbacks)
    : m_settings(settings), m_header(header), m_queue(queuePictures, queueBytes), m_saver(std::move(saver)),
      m_callbacks(std::move(callbacks)),
      m_disk(settings.directory, settings.pictureBytes, settings.diskReserveBytes, settings.intervalMs),
      m_companion(settings, header)
{
}

void PictureWriter::start()
{
    // Detached and holding itself: a disk that hangs must not hold the program's end.
    std::thread([self = shared_from_this()]() mutable {
        const OutlivingThread counted;
        nameThisThread("pir-writer");
        self->run();
        self.reset(); // while still counted
    }).detach();
}

bool PictureWriter::waitDone(std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock lock(m_mutex);
    return m_doneChanged.wait_until(lock, deadline, [this] { return m_done; });
}

QString PictureWriter::logPath() const
{
    const std::lock_guard lock(m_mutex);
    return m_logPath;
}

QString PictureWriter::logProblem() const
{
    const std::lock_guard lock(m_mutex);
    return m_logProblem;
}

void PictureWriter::run()
{
    for (;;) {
        const PictureJob job = m_queue.pop();
        if (!m_logTried)
            openLog(job.schedule);
        if (job.kind == PictureJob::Kind::End) {
            finish(job.end);
            break;
        }
        write(job);
        m_queue.release(job);
    }
    {
        const std::lock_guard lock(m_mutex);
        m_done = true;
    }
    m_doneChanged.notify_all();
}

void PictureWriter::openLog(const QString &schedule)
{
    m_logTried = true;
    m_header.schedule = schedule;
    const QString path = seriesLogPath(m_settings.directory, m_settings.baseName, m_header.start);
    // A base name that leads out of the directory stops the series at its first picture; the
    // log must not get out either.
    if (!checkSaveTarget(m_settings.directory, path))
        return;
    // A failure here is the first picture's to tell. Temporary files that a killed program left
    // where a file system could not take unnamed ones go before the series writes there.
    if (makeOutputDirectory(m_settings.directory))
        removeStaleTemporaries(m_settings.directory);
    m_header.companion = m_companion.isWanted();
    m_logFailure = m_log.open(path, m_header);
    if (m_logFailure.ok())
        m_companion.open(m_log.path());
    const std::lock_guard lock(m_mutex);
    if (m_logFailure.ok())
        m_logPath = m_log.path();
    else
        m_logProblem = m_logFailure.reason();
}

void PictureWriter::write(const PictureJob &job)
{
    if (job.kind == PictureJob::Kind::Note) {
        if (m_log.isOpen())
            m_log.note(job.note);
        return;
    }
    // A picture that could not be taken has ended its series already, with its message.
    if (job.kind == PictureJob::Kind::Failed) {
        logRow(job, Status::failure(job.failure), 0, QString());
        m_failed = true;
        return;
    }
    Status saved = checkSaveTarget(m_settings.directory, job.fileName);
    // A fresh machine has no output directory yet; the first picture of a series makes it. One
    // that goes away later is not made again: it may be the mount point of an unplugged disk.
    if (saved && m_saved == 0)
        saved = makeOutputDirectory(m_settings.directory);
    const QString replaced = saved ? replacedBy(job.fileName) : QString();
    // The base name may lead into a subfolder, which a killed program may have left its
    // temporary files in too.
    if (saved && m_saved == 0 && QFileInfo(job.fileName).absolutePath() != QFileInfo(m_settings.directory).absolutePath())
        removeStaleTemporaries(QFileInfo(job.fileName).absolutePath());
    // The disk keeps its reserve: a picture that would eat into it ends the series.
    if (saved)
        saved = m_disk.roomForNext();
    ImageMetadata record = job.record;
    m_companion.describe(record);
    if (saved)
        saved = m_saver(job.frame, job.fileName, record, m_savedNames.contains(job.fileName));
    const qint64 bytes = saved ? QFileInfo(job.fileName).size() : 0;
    if (saved)
        m_disk.saved(bytes, job.record.stopwatchMs.value_or(0));
    logRow(job, saved, bytes, saved ? replaced : QString());
    if (!saved) {
        fail(job.fileName, saved.reason());
        return;
    }
    ++m_saved;
    m_companion.add(job.fileName, job.frame, record, !replaced.isEmpty());
    // The pictures' folder may lie on a file system of its own, which the end syncs too.
    if (const QString folder = job.fileName.left(job.fileName.lastIndexOf(QLatin1Char('/')) + 1);
        !m_folders.contains(folder))
        m_folders << folder;
    // A number or a time makes every name of a series its own: only names without them can
    // repeat, and only then are they kept, so that a long series does not grow in memory.
    if (!m_settings.options.number && !m_settings.options.time)
        m_savedNames.insert(job.fileName, job.record.picture.value_or(0));
    // Said only after a picture was saved: the warning promises that the pictures are.
    if (!m_logFailure.ok() && !m_logWarned && m_callbacks.logWarning) {
        m_logWarned = true;
        m_callbacks.logWarning(QStringLiteral("The series log cannot be written:\n%1\nThe pictures are still saved.")
                                   .arg(m_logFailure.reason()));
    }
    if (m_callbacks.saved) {
        // From the tick's own instant: a writer that outlives its series touches no stopwatch.
        const double durationMs = double(stopwatchClockNs() - job.tickNs) / 1e6;
        m_callbacks.saved(StepReport{job.record.picture.value_or(0), job.fileName, saved,
                                     job.record.stopwatchMs.value_or(0), job.record.scheduledMs.value_or(0),
                                     durationMs, job.record.frameMs, job.frameAgeMs, job.frame, m_disk.secondsLeft()});
    }
}

void PictureWriter::fail(const QString &fileName, const QString &reason)
{
    const QString message = savingFailureMessage(fileName, reason);
    if (!m_failed && m_callbacks.failed)
        m_callbacks.failed(message);
    m_failed = true;
}

// No picture replaces a file from before its series (the save refuses), only one of its own.
QString PictureWriter::replacedBy(const QString &fileName) const
{
    const auto earlier = m_savedNames.constFind(fileName);
    return earlier != m_savedNames.constEnd() ? QString::number(*earlier) : QString();
}

void PictureWriter::logRow(const PictureJob &job, const Status &result, qint64 bytes, const QString &replaced)
{
    if (!m_log.isOpen())
        return;
    // The row is the picture's own record, plus what became of its save.
    SeriesLogRow row;
    row.picture = job.record.picture.value_or(0);
    // Beside the log, whatever folder the shell was in: the log and its pictures move together.
    const QDir current = QDir::current();
    row.fileName = QDir(current.absoluteFilePath(QFileInfo(m_log.path()).path()))
                       .relativeFilePath(current.absoluteFilePath(job.fileName));
    row.scheduledMs = job.record.scheduledMs.value_or(0);
    row.stopwatchMs = job.record.stopwatchMs.value_or(0);
    row.channel0 = job.record.channel0;
    row.channel1 = job.record.channel1;
    row.result = result ? QStringLiteral("ok") : result.reason();
    row.bytes = bytes;
    row.replaced = replaced;
    row.frameId = job.frameId;
    row.frameMs = job.record.frameMs;
    row.frameAgeMs = job.frameAgeMs;
    row.exposureUs = job.record.exposureUs;
    row.gain = job.record.gain;
    const Status written = m_log.append(row);
    if (!written && m_logFailure.ok())
        m_logFailure = written;
}

void PictureWriter::finish(const SeriesLogEnd &end)
{
    if (m_log.isOpen()) {
        SeriesLogEnd counted = end;
        counted.pictures = m_saved;
        counted.companionFailure = m_companion.finish();
        m_log.finish(counted);
    }
    if (m_saved == 0)
        return;
    const QString logPath = this->logPath();
    QStringList folders = m_folders;
    folders << m_settings.directory;
    if (!logPath.isEmpty())
        folders << QFileInfo(logPath).path();
    DiskSync::shared().request(folders, [logPath, synced = m_callbacks.synced](const Status &result) {
        if (!logPath.isEmpty()) {
            SeriesLog::appendTo(logPath, result ? QStringLiteral("# synced %1\n").arg(nowIso())
                                                : QStringLiteral("# not synced %1: %2\n").arg(nowIso(), result.reason()));
        }
        if (synced)
            synced(logPath, result);
    });
}
