#include "picture_files/picture_record.h"

#include <QLocale>

QString recordMilliseconds(double ms)
{
    return QString::number(ms, 'f', 3);
}

QString recordNumber(double value)
{
    return QString::number(value, 'f', QLocale::FloatingPointShortest);
}

std::pair<QString, QString> recordChannel(const std::optional<ChannelSample> &sample)
{
    if (!sample)
        return {};
    if (!sample->ok)
        return {QStringLiteral("ERR"), QStringLiteral("ERR")};
    // The shortest text that reads back as the same double: full precision, no noise digits.
    return {QString::number(sample->count), QString::number(sample->value, 'g', QLocale::FloatingPointShortest)};
}

namespace {

void addChannel(QList<std::pair<QString, QString>> &pairs, int channel, const char *unit,
                const std::optional<ChannelSample> &sample)
{
    if (!sample)
        return;
    const auto [count, value] = recordChannel(sample);
    pairs.append({QStringLiteral("channel%1_count").arg(channel), count});
    pairs.append({QStringLiteral("channel%1_%2").arg(channel).arg(QLatin1String(unit)), value});
}

std::optional<ChannelSample> readChannel(const QHash<QString, QString> &pairs, int channel, const char *unit)
{
    const QString count = pairs.value(QStringLiteral("channel%1_count").arg(channel));
    const QString value = pairs.value(QStringLiteral("channel%1_%2").arg(channel).arg(QLatin1String(unit)));
    if (count.isEmpty())
        return std::nullopt;
    ChannelSample sample;
    bool countOk = false, valueOk = false;
    sample.count = count.toInt(&countOk);
    sample.value = value.toDouble(&valueOk);
    sample.ok = countOk && valueOk;
    if (!sample.ok)
        sample = ChannelSample{};
    return sample;
}

} // namespace

QList<std::pair<QString, QString>> recordPairs(const ImageMetadata &m, const QDateTime &time)
{
    QList<std::pair<QString, QString>> pairs;
    pairs.append({QStringLiteral("capture_time"), time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs)});
    if (m.picture)
        pairs.append({QStringLiteral("picture"), QString::number(*m.picture)});
    if (m.scheduledMs)
        pairs.append({QStringLiteral("scheduled_ms"), recordMilliseconds(*m.scheduledMs)});
    if (m.stopwatchMs)
        pairs.append({QStringLiteral("stopwatch_ms"), recordMilliseconds(*m.stopwatchMs)});
    if (m.scheduledMs && m.stopwatchMs)
        pairs.append({QStringLiteral("lateness_ms"), recordMilliseconds(*m.stopwatchMs - *m.scheduledMs)});
    if (m.frameMs)
        pairs.append({QStringLiteral("frame_ms"), recordMilliseconds(*m.frameMs)});
    addChannel(pairs, 0, "mA", m.channel0);
    addChannel(pairs, 1, "V", m.channel1);
    if (m.exposureUs)
        pairs.append({QStringLiteral("exposure_us"), recordNumber(*m.exposureUs)});
    if (m.gain) {
        pairs.append({QStringLiteral("gain"), recordNumber(*m.gain)});
        pairs.append({QStringLiteral("gain_unit"), m.gainUnit});
    }
    return pairs;
}

void readRecordPairs(const QHash<QString, QString> &pairs, ImageMetadata &metadata)
{
    bool ok = false;
    if (const qint64 picture = pairs.value(QStringLiteral("picture")).toLongLong(&ok); ok)
        metadata.picture = picture;
    const std::pair<const char *, std::optional<double> *> numbers[] = {{"stopwatch_ms", &metadata.stopwatchMs},
                                                                         {"frame_ms", &metadata.frameMs},
                                                                         {"scheduled_ms", &metadata.scheduledMs},
                                                                         {"exposure_us", &metadata.exposureUs}};
    for (const auto &[key, field] : numbers) {
        if (const double value = pairs.value(QLatin1String(key)).toDouble(&ok); ok)
            *field = value;
    }
    if (const double gain = pairs.value(QStringLiteral("gain")).toDouble(&ok); ok) {
        metadata.gain = gain;
        metadata.gainUnit = pairs.value(QStringLiteral("gain_unit"));
    }
    const QDateTime time = QDateTime::fromString(pairs.value(QStringLiteral("capture_time")), Qt::ISODateWithMs);
    if (time.isValid())
        metadata.captureTime = time;
    metadata.channel0 = readChannel(pairs, 0, "mA");
    metadata.channel1 = readChannel(pairs, 1, "V");
}
