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
