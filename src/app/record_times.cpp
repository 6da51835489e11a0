#include "app/record_times.h"

#include <QRegularExpression>

QDateTime parseRecordTime(const QString &text, const QDateTime &now, QString &error)
{
    static const QRegularExpression timeOfDay(QStringLiteral("^(\\d{1,2}):(\\d{2})(?::(\\d{2}))?$"));
    const QString trimmed = text.trimmed();
    QDateTime at;
    if (const QRegularExpressionMatch m = timeOfDay.match(trimmed); m.hasMatch()) {
        const QTime time(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
        if (!time.isValid()) {
            error = QStringLiteral("\"%1\" is not a time of day").arg(text);
            return {};
        }
        at = QDateTime(now.date(), time);
        if (at <= now)
            at = QDateTime(now.date().addDays(1), time);
        return at;
    }
    // A date alone would mean its midnight, which is rarely what was meant.
    if (trimmed.contains(QLatin1Char('T')) || trimmed.contains(QLatin1Char(' ')))
        at = QDateTime::fromString(QString(trimmed).replace(QLatin1Char(' '), QLatin1Char('T')), Qt::ISODateWithMs);
    if (!at.isValid()) {
        error = QStringLiteral("\"%1\" is neither a time of day (HH:MM or HH:MM:SS) nor an ISO 8601 date and time "
                               "(2024-05-01T22:00)")
                    .arg(text);
        return {};
    }
    if (at <= now) {
        error = QStringLiteral("%1 has passed").arg(at.toString(Qt::ISODate));
        return {};
    }
    return at;
}
