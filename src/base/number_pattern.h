#pragma once

#include <QLocale>
#include <QString>
#include <QStringView>

#include <cstdint>

// Display patterns such as "000", "00.0" and "0000000": the zeros before the point give the
// least number of integer digits (leading zeros fill up, more digits appear when the value
// needs them), the zeros after it the number of decimals. The point is written as the
// locale's decimal separator. Every number that reaches a label or a file name goes through
// these two functions, so that a reading looks the same in both.

// Rounds `value` to the pattern's decimals, halves away from zero, as a person reading the
// value in decimal would: 26.5 gives "027" and 2.675 with "0.00" gives "2.68", although the
// nearest double of 2.675 lies just below it.
QString formatNumber(double value, QStringView pattern, const QLocale &locale);

// The exact digits of a whole number, for counters that must never pass through rounding.
QString formatInteger(std::int64_t value, QStringView pattern, const QLocale &locale);
