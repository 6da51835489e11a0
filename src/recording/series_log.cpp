#include "recording/series_log.h"

namespace {

// A field as RFC 4180 wants it: quoted when it holds a comma, a quote or a line break.
QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n')) &&
        !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// Numbers are written with a decimal point whatever the locale, so that every tool reads them.
QString milliseconds(double ms)
{
    return QString::number(ms, 'f', 3);
}

void appendChannel(QStringList &fields, const std::optional<ChannelSample> &channel)
{
    if (!channel) {
        fields << QString() << QString();
    } else if (!channel->ok) {
        fields << QStringLiteral("ERR") << QStringLiteral("ERR");
    } else {
        // Shortest text that reads back as the same double: full precision, no noise digits.
        fields << QString::number(channel->count) << QString::number(channel->value, 'g', QLocale::FloatingPointShortest);
    }
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

// Full precision without an exponent: what a camera reports is written as it came.
QString number(double value)
{
    return QString::number(value, 'f', QLocale::FloatingPointShortest);
}

QString optionalNumber(const std::optional<double> &value)
{
    return value ? number(*value) : QString();
}

// "exposure 10000 us", "exposure automatic, 8000 us at Start", "exposure unknown".
QString describeValue(const char *name, const std::optional<double> &value, bool automatic, const QString &unit)
{
    if (!value)
        return QStringLiteral("%1 unknown").arg(QLatin1String(name));
    const QString amount = unit.isEmpty() ? number(*value) : number(*value) + u' ' + unit;
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

QString formatLogHeader(const SeriesLogHeader &h)
{
    QString text;
    text += QStringLiteral("# %1 %2\n").arg(h.program, h.version);
    text += QStringLiteral("# start: %1\n").arg(h.start.toOffsetFromUtc(h.start.offsetFromUtc()).toString(Qt::ISODateWithMs));
    text += QStringLiteral("# camera: driver file %1, %2, %3x%4, %5\n")
                .arg(h.driverFile, describeCamera(h))
                .arg(h.width)
                .arg(h.height)
                .arg(h.pixelFormat);
    text += QStringLiteral("# card: %1\n").arg(h.card);
    text += QStringLiteral("# interval: %1 ms\n").arg(h.intervalMs);
    text += QStringLiteral("# options: %1\n").arg(h.options.isEmpty() ? QStringLiteral("none") : h.options.join(QStringLiteral(", ")));
    if (!h.namesNote.isEmpty())
        text += QStringLiteral("# names: %1\n").arg(h.namesNote);
    if (h.settings)
        text += QStringLiteral("# settings: %1\n").arg(describeSettingsInForce(*h.settings));
    if (const QString note = bitsLostNote(h.significantBits, h.bitsKept, h.fileType); !note.isEmpty())
        text += QStringLiteral("# bits: %1\n").arg(note);
    text += QStringLiteral("picture,file,scheduled_ms,stopwatch_ms,lateness_ms,channel0_count,channel0_mA,"
                           "channel1_count,channel1_V,result,bytes,replaced,frame_id,frame_ms,frame_age_ms,"
                           "exposure_us,gain\n");
    return text;
}

QString formatLogRow(const SeriesLogRow &row)
{
    QStringList fields;
    fields << QString::number(row.picture) << csvField(row.fileName) << milliseconds(row.scheduledMs)
           << milliseconds(row.stopwatchMs) << milliseconds(row.stopwatchMs - row.scheduledMs);
    appendChannel(fields, row.channel0);
    appendChannel(fields, row.channel1);
    fields << csvField(row.result) << QString::number(row.bytes) << csvField(row.replaced)
           << (row.frameId ? QString::number(*row.frameId) : QString())
           << (row.frameMs ? milliseconds(*row.frameMs) : QString())
           << (row.frameAgeMs ? milliseconds(*row.frameAgeMs) : QString()) << optionalNumber(row.exposureUs)
           << optionalNumber(row.gain);
    return fields.join(QLatin1Char(',')) + QLatin1Char('\n');
}

QString formatLogEnd(const SeriesLogEnd &e)
{
    QString text = QStringLiteral("# end: %1, %2 pictures, %3 ticks missed\n")
                       .arg(e.end.toOffsetFromUtc(e.end.offsetFromUtc()).toString(Qt::ISODateWithMs))
                       .arg(e.pictures)
                       .arg(e.ticksMissed);
    if (e.framesReceived)
        text += QStringLiteral("# frames: %1 received from the camera, %2 lost by the camera or transport\n")
                    .arg(*e.framesReceived)
                    .arg(e.framesLost);
    return text;
}

Status SeriesLog::open(const QString &path, const SeriesLogHeader &header)
{
    m_file.close();
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return Status::failure(QStringLiteral("cannot write the series log %1: %2").arg(path, m_file.errorString()));
    return write(formatLogHeader(header));
}

Status SeriesLog::finish(const SeriesLogEnd &end)
{
    if (!m_file.isOpen())
        return Status::failure(QStringLiteral("the series log is not open"));
    const Status written = write(formatLogEnd(end));
    m_file.close();
    return written;
}

Status SeriesLog::append(const SeriesLogRow &row)
{
    if (!m_file.isOpen())
        return Status::failure(QStringLiteral("the series log is not open"));
    return write(formatLogRow(row));
}

Status SeriesLog::write(const QString &text)
{
    // Unbuffered: each row is one write() straight to the kernel.
    const QByteArray bytes = text.toUtf8();
    if (m_file.write(bytes) != bytes.size())
        return Status::failure(QStringLiteral("cannot write the series log %1: %2").arg(m_file.fileName(), m_file.errorString()));
    return Status::success();
}

Status SeriesLog::appendTo(const QString &path, const QString &text)
{
    QFile file(path);
    const QByteArray bytes = text.toUtf8();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(bytes) != bytes.size())
        return Status::failure(QStringLiteral("cannot write the series log %1: %2").arg(path, file.errorString()));
    return Status::success();
}
