#pragma once

#include <QLocale>
#include <QString>

// The capture interval typed into "Trigger every", checked when the focus leaves the box.
struct IntervalCheck
{
    enum Outcome {
        Accepted,   // `milliseconds` is the new interval
        OutOfRange, // a number below 50 once rounded, or above the longest: the focus may leave
        NotNumeric, // the focus stays in the box
    };
    Outcome outcome = NotNumeric;
    int milliseconds = 0;
};

inline constexpr const char *kIntervalMessage = "Only Numbers between 50 and 65000 are allowed";
// The longest interval of "Trigger every", and of `record --interval`, which may run a picture a day.
inline constexpr int kLongestIntervalMs = 65000;
inline constexpr int kLongestRecordIntervalMs = 24 * 3600 * 1000;

// A text is numeric when it is an optionally signed decimal number written with the
// locale's decimal separator (surrounding blanks allowed). An accepted value is rounded to
// whole milliseconds, halves to the even neighbour.
IntervalCheck checkInterval(const QString &text, const QLocale &locale = QLocale(),
                            int longestMs = kLongestIntervalMs);
