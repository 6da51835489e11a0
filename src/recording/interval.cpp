#include "recording/interval.h"

#include <cmath>

IntervalCheck checkInterval(const QString &text, const QLocale &locale, int longestMs)
{
    IntervalCheck check;
    bool ok = false;
    const double value = locale.toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        return check;
    // The default rounding mode takes a half to the even neighbour: 100.5 gives 100.
    const double rounded = std::nearbyint(value);
    // The timer runs at whole milliseconds, so the lower bound holds for the rounded value:
    // 49.4 would otherwise run the series every 49 ms.
    if (rounded >= 50 && value <= longestMs) {
        check.outcome = IntervalCheck::Accepted;
        check.milliseconds = int(rounded);
    } else {
        check.outcome = IntervalCheck::OutOfRange;
    }
    return check;
}
