#include "base/number_pattern.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace {

struct PatternShape
{
    int integerDigits = 0;
    int decimals = 0;
};

PatternShape shapeOf(QStringView pattern)
{
    PatternShape shape;
    const qsizetype point = pattern.indexOf(u'.');
    const QStringView integerPart = point < 0 ? pattern : pattern.left(point);
    shape.integerDigits = int(integerPart.count(u'0'));
    if (point >= 0)
        shape.decimals = int(pattern.mid(point + 1).count(u'0'));
    return shape;
}

// Adds one unit in the last place of a string of decimal digits.
void incrementDigits(std::string &digits)
{
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return;
        }
        *it = '0';
    }
    digits.insert(digits.begin(), '1');
}

// The digits of `magnitude` × 10^decimals, rounded half away from zero. The value is first
// written with 15 significant digits, the precision a double reliably holds, so that results
// of arithmetic such as 1.15 or 12345.6 round as their decimal reading does instead of by the
// representation error of the nearest double.
std::string roundedDigits(double magnitude, int decimals)
{
    if (magnitude == 0)
        return "0";
    constexpr int significant = 15;
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific,
                                      significant - 1);
    const std::string text(buffer, result.ptr);
    const std::size_t e = text.find('e');
    std::string digits = text.substr(0, 1) + text.substr(2, e - 2);
    const int exponent = std::atoi(text.c_str() + e + 1);

    // Digit i of `digits` stands for 10^(exponent - i); the last one kept stands for 10^-decimals.
    const int keep = exponent + decimals + 1;
    if (keep >= significant)
        return digits + std::string(std::size_t(keep - significant), '0');
    if (keep < 0)
        return "0";
    const bool roundUp = digits[std::size_t(keep)] >= '5';
    digits.resize(std::size_t(keep));
    if (roundUp)
        incrementDigits(digits);
    return digits.empty() ? "0" : digits;
}

// Lays out `digits` (the value × 10^decimals, without sign) by the pattern's shape.
QString assemble(std::string digits, bool negative, PatternShape shape, const QLocale &locale)
{
    if (digits.size() < std::size_t(shape.decimals) + 1)
        digits.insert(0, std::size_t(shape.decimals) + 1 - digits.size(), '0');
    std::string integerPart = digits.substr(0, digits.size() - std::size_t(shape.decimals));
    const std::string fraction = digits.substr(integerPart.size());

    const std::size_t firstSignificant = integerPart.find_first_not_of('0');
    integerPart.erase(0, firstSignificant == std::string::npos ? integerPart.size() : firstSignificant);
    if (integerPart.size() < std::size_t(shape.integerDigits))
        integerPart.insert(0, std::size_t(shape.integerDigits) - integerPart.size(), '0');

    QString text = QString::fromLatin1(integerPart);
    if (shape.decimals > 0)
        text += locale.decimalPoint() + QString::fromLatin1(fraction);
    // A value that rounds to zero is shown without a sign.
    const bool isZero = digits.find_first_not_of('0') == std::string::npos;
    if (negative && !isZero)
        text.prepend(locale.negativeSign());
    return text;
}

} // namespace

QString formatNumber(double value, QStringView pattern, const QLocale &locale)
{
    if (!std::isfinite(value))
        return locale.toString(value);
    const PatternShape shape = shapeOf(pattern);
    return assemble(roundedDigits(std::fabs(value), shape.decimals), std::signbit(value), shape, locale);
}

QString formatInteger(std::int64_t value, QStringView pattern, const QLocale &locale)
{
    const PatternShape shape = shapeOf(pattern);
    // Through unsigned arithmetic, so that the most negative value has a magnitude too.
    const std::uint64_t magnitude = value < 0 ? 0 - std::uint64_t(value) : std::uint64_t(value);
    std::string digits = std::to_string(magnitude) + std::string(std::size_t(shape.decimals), '0');
    return assemble(std::move(digits), value < 0, shape, locale);
}
