#pragma once

#include <QLocale>
#include <QString>

// The capture interval typed into "Trigger every", checked when the focus leaves the box.
struct IntervalCheck
{
    enum Outcome {
        Accepted,   // `milliseconds` is the new interval
        OutOfRange, // a number below 50 once rounded, or above 65000: the focus may leave
        NotNumeric, // the focus stays in the box
    };
    Outcome outcome = NotNumeric;
    int milliseconds = 0;
};

inline constexpr const char *kIntervalMessage = "Only Numbers between 50 and 65000 are allowed";

// A text is numeric when it is an optionally signed decimal number written with the
// locale's decimal separator (surrounding blanks allowed). An accepted value is rounded to
// whole milliseconds, halves to the even neighbour.
IntervalCheck checkInterval(const QString &text, const QLocale &locale = QLocale());
