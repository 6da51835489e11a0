#include "recording/interval.h"

#include <cmath>

IntervalCheck checkInterval(const QString &text, const QLocale &locale)
{
    IntervalCheck check;
    bool ok = false;
    const double value = locale.toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        return check;
    if (value > 49 && value <= 65000) {
        check.outcome = IntervalCheck::Accepted;
        // The default rounding mode takes a half to the even neighbour: 100.5 gives 100.
        check.milliseconds = int(std::nearbyint(value));
    } else {
        check.outcome = IntervalCheck::OutOfRange;
    }
    return check;
}
