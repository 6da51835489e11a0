#pragma once

// What a series log says of a camera that went away once and came back: one "# camera lost at"
// and one "# camera back at" line, the ticks between them missed and counted, beyond two at each
// edge no other tick missed but the few a busy machine costs, every picture on the grid and
// numbered on without a gap.

#include <QRegularExpression>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <cmath>

struct CameraGap
{
    qint64 lostMs = -1;
    qint64 backMs = -1;
    qint64 missedTicks = 0; // all the ticks of the series that got no picture
    QList<qint64> strays;   // of them, those beyond two ticks around the gap's edges
    QString problem;        // empty when the log reads as it should
};

inline CameraGap readCameraGap(const QStringList &lines, int intervalMs)
{
    CameraGap gap;
    const QStringList lost = lines.filter(QRegularExpression(QStringLiteral("^# camera lost at \\d+ ms: .+")));
    const QRegularExpression backLine(QStringLiteral("^# camera back at (\\d+) ms \\((\\d+) ticks missed\\)$"));
    const QStringList back = lines.filter(backLine);
    if (lost.size() != 1 || back.size() != 1) {
        gap.problem = QStringLiteral("%1 lost and %2 back lines").arg(lost.size()).arg(back.size());
        return gap;
    }
    gap.lostMs = lost.first().section(QLatin1Char(' '), 4, 4).toLongLong();
    const QRegularExpressionMatch m = backLine.match(back.first());
    gap.backMs = m.captured(1).toLongLong();
    if (gap.backMs <= gap.lostMs || (gap.backMs - gap.lostMs) / intervalMs != m.captured(2).toLongLong())
        gap.problem = QStringLiteral("the gap does not add up: %1 / %2").arg(lost.first(), back.first());
    QSet<qint64> ticks;
    qint64 number = 0;
    for (const QString &row : lines.filter(QRegularExpression(QStringLiteral("^\\d+,")))) {
        const QStringList field = row.split(QLatin1Char(','));
        const double scheduled = field[2].toDouble();
        if (field[0].toLongLong() != ++number || field[9] != u"ok" || std::fmod(scheduled, intervalMs) != 0)
            gap.problem = QStringLiteral("off the grid, out of order or not saved: %1").arg(row);
        ticks.insert(qint64(scheduled) / intervalMs);
    }
    const qint64 last = ticks.isEmpty() ? 0 : *std::max_element(ticks.begin(), ticks.end());
    for (qint64 tick = 0; tick < last; ++tick) {
        if (ticks.contains(tick))
            continue;
        ++gap.missedTicks;
        if (tick * intervalMs < gap.lostMs - 2 * intervalMs || tick * intervalMs > gap.backMs + 2 * intervalMs)
            gap.strays << tick;
    }
    // A machine that other work holds up may cost a tick now and then, two for a stall of 100 ms,
    // in about one tick of thirty at most; the camera's gap must not: a camera taken back a second
    // late would cost twenty ticks at 50 ms beside its gap.
    if (gap.strays.size() > std::max<qint64>(3, last / 30)) {
        QStringList ticks;
        for (const qint64 tick : gap.strays)
            ticks << QString::number(tick);
        gap.problem = QStringLiteral("ticks missed outside the gap %1-%2 ms: %3")
                          .arg(gap.lostMs).arg(gap.backMs).arg(ticks.join(u' '));
    }
    return gap;
}
