#include "recording/series_log.h"

#include "picture_files/picture_record.h"
#include "picture_files/safe_file.h"
#include "recording/series.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Another series' log of the same name gets a number; this many are tried.
constexpr int maxLogNumber = 1000;

// A field as RFC 4180 wants it: quoted when it holds a comma, a quote or a line break; also
// when it holds a '#', which tools told that '#' starts a comment (pandas' comment='#') take as
// one only outside quotes.
QString csvField(const QString &text)
{
    static const QString special = QStringLiteral(",\"\n\r#");
    if (std::none_of(text.cbegin(), text.cend(), [](QChar c) { return special.contains(c); }))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

void appendChannel(QStringList &fields, const std::optional<ChannelSample> &channel)
{
    const auto [count, value] = recordChannel(channel);
    fields << count << value;
}

// "source v4l2 (chosen by auto), device /dev/video0, model ..., serial ...": only what is known.
QString describeCamera(const SeriesLogHeader &h)
{
    QString text = QStringLiteral("source ") + (h.camera.source.isEmpty() ? h.requestedSource : h.camera.source);
    if (!h.requestedSource.isEmpty() && !h.camera.source.isEmpty() && h.requestedSource != h.camera.source)
        text += QStringLiteral(" (chosen by %1)").arg(h.requestedSource);
    const std::pair<const char *, QString> details[] = {
        {"device", h.camera.device}, {"model", h.camera.model}, {"serial", h.camera.serial}};
    for (const auto &[name, value] : details) {
        if (!value.isEmpty())
            text += QStringLiteral(", %1 %2").arg(QLatin1String(name), value);
    }
    return text;
}

QString optionalNumber(const std::optional<double> &value)
{
    return value ? recordNumber(*value) : QString();
}

// "exposure 10000 us", "exposure automatic, 8000 us at Start", "exposure unknown".
QString describeValue(const char *name, const std::optional<double> &value, bool automatic, const QString &unit)
{
    if (!value)
        return QStringLiteral("%1 unknown").arg(QLatin1String(name));
    const QString amount = unit.isEmpty() ? recordNumber(*value) : recordNumber(*value) + u' ' + unit;
    return automatic ? QStringLiteral("%1 automatic, %2 at Start").arg(QLatin1String(name), amount)
                     : QStringLiteral("%1 %2").arg(QLatin1String(name), amount);
}

} // namespace

QString describeSettingsInForce(const CameraSettingsInForce &s)
{
    const QString gainUnit = s.gainUnit == u"dB" ? s.gainUnit : QStringLiteral("(%1)").arg(s.gainUnit);
    QStringList parts{describeValue("exposure", s.exposureUs, s.exposureAuto, QStringLiteral("us")),
                      describeValue("gain", s.gain, s.gainAuto, s.gainUnit.isEmpty() ? QString() : gainUnit),
                      describeValue("frame rate", s.frameRate, false, QStringLiteral("frames/s"))};
    if (!s.pixelFormat.isEmpty())
        parts << QStringLiteral("pixel format ") + s.pixelFormat;
    if (s.significantBits > 0)
        parts << QStringLiteral("%1 significant bits").arg(s.significantBits);
    if (!s.trigger.isEmpty())
        parts << QStringLiteral("trigger ") + s.trigger;
    if (s.common.pixelSizeUm)
        parts << QStringLiteral("pixel size %1 um").arg(recordNumber(*s.common.pixelSizeUm));
    if (!s.common.channelName.isEmpty())
        parts << QStringLiteral("channel name ") + s.common.channelName;
    return parts.join(QStringLiteral(", "));
}

QString bitsLostNote(int significantBits, int bitsKept, const QString &fileType)
{
    if (bitsKept >= significantBits)
        return {};
    return QStringLiteral("the camera gives %1 significant bits; %2 pictures keep the upper %3")
        .arg(significantBits)
        .arg(fileType)
        .arg(bitsKept);
}

QString seriesLogPath(const QString &directory, const QString &baseName, const QDateTime &start)
{
    return directory + baseName + QLatin1Char('_') + start.toString(QStringLiteral("yyyyMMdd-HHmmss")) +
           QStringLiteral(".csv");
}

// A '#' line: a line break inside a value (a driver file's path may hold one) is written as
// "\\n", so that the value stays on its line.
QString commentLine(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\n'), QLatin1String("\\n")).replace(QLatin1Char('\r'), QLatin1String("\\r"));
    return QStringLiteral("# ") + escaped + QLatin1Char('\n');
}

QString seriesCompanionPath(const QString &logPath)
{
    const QFileInfo log(logPath);
    return log.dir().filePath(log.completeBaseName() + QStringLiteral(".companion.ome"));
}

QString formatLogHeader(const SeriesLogHeader &h, const QString &logPath)
{
    QString text;
    text += commentLine(QStringLiteral("%1 %2").arg(h.program, h.version));
    text += commentLine(QStringLiteral("start: %1").arg(h.start.toOffsetFromUtc(h.start.offsetFromUtc()).toString(Qt::ISODateWithMs)));
    text += commentLine(QStringLiteral("camera: driver file %1, %2, %3x%4, %5")
                            .arg(h.driverFile, describeCamera(h))
                            .arg(h.width)
                            .arg(h.height)
                            .arg(h.pixelFormat));
    text += commentLine(QStringLiteral("card: %1").arg(h.card));
    text += commentLine(QStringLiteral("interval: %1 ms").arg(h.intervalMs));
    text += commentLine(QStringLiteral("options: %1").arg(h.options.isEmpty() ? QStringLiteral("none") : h.options.join(QStringLiteral(", "))));
    if (!h.namesNote.isEmpty())
        text += commentLine(QStringLiteral("names: %1").arg(h.namesNote));
    if (h.settings)
        text += commentLine(QStringLiteral("settings: %1").arg(describeSettingsInForce(*h.settings)));
    if (h.settings && !h.settings->frameTime.isEmpty())
        text += commentLine(QStringLiteral("frame_ms: %1").arg(h.settings->frameTime));
    if (const QString note = bitsLostNote(h.significantBits, h.bitsKept, h.fileType); !note.isEmpty())
        text += commentLine(QStringLiteral("bits: %1").arg(note));
    if (!h.schedule.isEmpty())
        text += commentLine(QStringLiteral("schedule: %1").arg(h.schedule));
    if (!h.queue.isEmpty())
        text += commentLine(QStringLiteral("queue: %1").arg(h.queue));
    if (!h.cameraRateNote.isEmpty())
        text += commentLine(QStringLiteral("frame rate: %1").arg(h.cameraRateNote));
    if (!h.diskNote.isEmpty())
        text += commentLine(QStringLiteral("disk: %1").arg(h.diskNote));
    if (h.companion && !logPath.isEmpty())
        text += commentLine(QStringLiteral("companion: %1 (OME-XML of the series; a picture's DeltaT is its frame_ms, "
                                           "else its stopwatch_ms, in s)")
                                .arg(QFileInfo(seriesCompanionPath(logPath)).fileName()));
    if (!h.remoteControl.isEmpty())
        text += commentLine(QStringLiteral("remote control: %1").arg(h.remoteControl));
    text += QStringLiteral("picture,file,scheduled_ms,stopwatch_ms,lateness_ms,channel0_count,channel0_mA,"
                           "channel1_count,channel1_V,result,bytes,replaced,frame_id,frame_ms,frame_age_ms,"
                           "exposure_us,gain\n");
    return text;
}

QString formatLogRow(const SeriesLogRow &row)
{
    QStringList fields;
    fields << QString::number(row.picture) << csvField(row.fileName) << recordMilliseconds(row.scheduledMs)
           << recordMilliseconds(row.stopwatchMs) << recordMilliseconds(row.stopwatchMs - row.scheduledMs);
    appendChannel(fields, row.channel0);
    appendChannel(fields, row.channel1);
    fields << csvField(row.result) << QString::number(row.bytes) << csvField(row.replaced)
           << (row.frameId ? QString::number(*row.frameId) : QString())
           << (row.frameMs ? recordMilliseconds(*row.frameMs) : QString())
           << (row.frameAgeMs ? recordMilliseconds(*row.frameAgeMs) : QString()) << optionalNumber(row.exposureUs)
           << optionalNumber(row.gain);
    return fields.join(QLatin1Char(',')) + QLatin1Char('\n');
}

QString formatLogEnd(const SeriesLogEnd &e)
{
    QString text = QStringLiteral("# end: %1, %2 picture%3, %4 tick%5 missed\n")
                       .arg(e.end.toOffsetFromUtc(e.end.offsetFromUtc()).toString(Qt::ISODateWithMs))
                       .arg(e.pictures)
                       .arg(e.pictures == 1 ? "" : "s")
                       .arg(e.ticksMissed)
                       .arg(e.ticksMissed == 1 ? "" : "s");
    if (e.framesReceived)
        text += QStringLiteral("# frames: %1 received from the camera, %2 lost by the camera or transport\n")
                    .arg(*e.framesReceived)
                    .arg(e.framesLost);
    if (!e.companionFailure.isEmpty())
        text += commentLine(QStringLiteral("companion not written: %1").arg(e.companionFailure));
    return text;
}

QString formatLogUnsaved(const std::vector<qint64> &pictures)
{
    QStringList runs;
    for (std::size_t i = 0; i < pictures.size();) {
        std::size_t last = i;
        while (last + 1 < pictures.size() && pictures[last + 1] == pictures[last] + 1)
            ++last;
        runs << (last == i ? QString::number(pictures[i])
                           : QStringLiteral("%1-%2").arg(pictures[i]).arg(pictures[last]));
        i = last + 1;
    }
    return QStringLiteral("# not saved: %1 %2 taken and not written when the program ended: %3\n")
        .arg(pictures.size())
        .arg(pictures.size() == 1 ? QStringLiteral("picture") : QStringLiteral("pictures"), runs.join(QLatin1String(", ")));
}

Status logFailure(const QString &path, int error)
{
    return Status::failure(QStringLiteral("%1\n%2").arg(path, asSentence(fileErrorReason(error, path))));
}

namespace {

// Writes all of `bytes` at the end of the file, or nothing: a line cut short by a full disk
// would run into the next one, so the file goes back to `size`, the end of its last whole line.
int writeWhole(int fd, const QByteArray &bytes, qint64 size)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            if (done > 0 && ::ftruncate(fd, off_t(size)) != 0)
                return errno;
            return error;
        }
        done += n;
    }
    return 0;
}

QString numberedLogPath(const QString &path, int number)
{
    if (number == 1)
        return path;
    const QString suffix = QStringLiteral(".csv");
    const QString stem = path.endsWith(suffix) ? path.chopped(suffix.size()) : path;
    return stem + QStringLiteral("_%1").arg(number) + (path.endsWith(suffix) ? suffix : QString());
}

} // namespace

Status SeriesLog::create(const QString &path)
{
    for (int number = 1; number <= maxLogNumber; ++number) {
        const QString candidate = numberedLogPath(path, number);
        const QByteArray name = QFile::encodeName(candidate);
        m_fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            m_path = candidate;
            m_size = 0;
            return Status::success();
        }
        const int error = errno;
        struct stat info = {};
        // Only another log makes way for a numbered one; a folder in the way is a fault.
        if (error != EEXIST || (::lstat(name.constData(), &info) == 0 && S_ISDIR(info.st_mode)))
            return logFailure(candidate, error == EEXIST ? EISDIR : error);
    }
    return logFailure(path, EEXIST);
}

Status SeriesLog::open(const QString &path, const SeriesLogHeader &header)
{
    close();
    if (Status status = create(path); !status)
        return status;
    const Status written = write(formatLogHeader(header, m_path));
    if (!written)
        removeCreated();
    return written;
}

// A log without its header (a full disk) is no record: the file this log created goes, unless
// something else has taken its name meanwhile.
void SeriesLog::removeCreated()
{
    const QByteArray name = QFile::encodeName(m_path);
    struct stat made = {};
    struct stat named = {};
    if (::fstat(m_fd, &made) == 0 && ::lstat(name.constData(), &named) == 0 && made.st_dev == named.st_dev &&
        made.st_ino == named.st_ino)
        ::unlink(name.constData());
    close();
    m_path.clear();
}

void SeriesLog::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

Status SeriesLog::finish(const SeriesLogEnd &end)
{
    if (!isOpen())
        return Status::failure(QStringLiteral("the series log is not open"));
    const Status written = write(formatLogEnd(end));
    close();
    return written;
}

Status SeriesLog::append(const SeriesLogRow &row)
{
    if (!isOpen())
        return Status::failure(QStringLiteral("the series log is not open"));
    return write(formatLogRow(row));
}

Status SeriesLog::note(const QString &text)
{
    if (!isOpen())
        return Status::failure(QStringLiteral("the series log is not open"));
    return write(commentLine(text));
}

Status SeriesLog::write(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    if (const int error = writeWhole(m_fd, bytes, m_size); error != 0)
        return logFailure(m_path, error);
    m_size += bytes.size();
    return Status::success();
}

Status SeriesLog::appendTo(const QString &path, const QString &text)
{
    // A log that has gone is not made again with only its last line.
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0)
        return logFailure(path, errno);
    struct stat info = {};
    const int error = ::fstat(fd, &info) != 0 ? errno : writeWhole(fd, text.toUtf8(), qint64(info.st_size));
    ::close(fd);
    return error != 0 ? logFailure(path, error) : Status::success();
}
