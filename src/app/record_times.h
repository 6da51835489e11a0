#pragma once

#include <QDateTime>
#include <QString>

// An instant given to `record --start-at` or `--until`: a local time of day, "HH:MM" or
// "HH:MM:SS", meaning the next such instant after `now` (today, or tomorrow once it has passed
// today), or an ISO 8601 date and time, local unless it names its offset ("2024-05-01T22:00",
// "2024-05-01T22:00:00+02:00", "2024-05-01T20:00:00Z"). Returns an invalid QDateTime and the
// reason in `error` when the text is none of these or lies before `now`.
QDateTime parseRecordTime(const QString &text, const QDateTime &now, QString &error);
