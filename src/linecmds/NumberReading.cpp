#include "linecmds/NumberReading.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace {

// Enough significant digits to round any decimal to the nearest double; the
// rest only matter as "something nonzero follows".
constexpr qsizetype kSignificantDigits = 800;
// Beyond these powers of ten a double is infinite or zero.
constexpr long long kMaxMagnitude = 400;

int digitValue(QChar c, int base) {
    const ushort u = c.unicode();
    int value = -1;
    if (u >= '0' && u <= '9')
        value = u - '0';
    else if (u >= 'a' && u <= 'f')
        value = u - 'a' + 10;
    else if (u >= 'A' && u <= 'F')
        value = u - 'A' + 10;
    return value < base ? value : -1;
}

double readBased(const QString& text, qsizetype from, int base) {
    double value = 0; // grows to infinity on absurd lengths, never wraps
    for (qsizetype i = from; i < text.size(); ++i) {
        const int digit = digitValue(text.at(i), base);
        if (digit < 0)
            break;
        value = value * base + digit;
    }
    return value;
}

double readDecimal(const QString& text) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-')))
        negative = text.at(i++) == QLatin1Char('-');

    // Digits of the mantissa without the period; exponent10 places the point.
    std::string digits;
    long long exponent10 = 0;
    bool sawDigit = false, sawPeriod = false, dropped = false;
    for (; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('.') && !sawPeriod) {
            sawPeriod = true;
            continue;
        }
        const int digit = digitValue(c, 10);
        if (digit < 0)
            break;
        sawDigit = true;
        if (digit == 0 && digits.empty()) {
            if (sawPeriod)
                --exponent10;
            continue;
        }
        if (qsizetype(digits.size()) < kSignificantDigits) {
            digits.push_back(char('0' + digit));
            if (sawPeriod)
                --exponent10;
        } else {
            dropped = dropped || digit != 0;
            if (!sawPeriod)
                ++exponent10;
        }
    }
    if (!sawDigit)
        return 0;

    if (i < text.size() && (text.at(i) == QLatin1Char('e') || text.at(i) == QLatin1Char('E'))) {
        qsizetype j = i + 1;
        bool expNegative = false;
        if (j < text.size() && (text.at(j) == QLatin1Char('+') || text.at(j) == QLatin1Char('-')))
            expNegative = text.at(j++) == QLatin1Char('-');
        if (j < text.size() && digitValue(text.at(j), 10) >= 0) {
            long long written = 0;
            for (; j < text.size(); ++j) {
                const int digit = digitValue(text.at(j), 10);
                if (digit < 0)
                    break;
                if (written < 1000000000LL)
                    written = written * 10 + digit;
            }
            exponent10 += expNegative ? -written : written;
        }
    }

    if (digits.empty())
        return negative ? -0.0 : 0.0;
    const long long magnitude = exponent10 + qsizetype(digits.size());
    if (magnitude > kMaxMagnitude)
        return negative ? -std::numeric_limits<double>::infinity()
                        : std::numeric_limits<double>::infinity();
    if (magnitude < -kMaxMagnitude)
        return negative ? -0.0 : 0.0;
    if (dropped) {
        // A sticky digit keeps "just above a halfway point" above it.
        digits.push_back('1');
        --exponent10;
    }

    // No period in the text handed over: strtod's reading of the point
    // follows the locale, its reading of digits and exponents does not.
    std::string number = negative ? "-" : "";
    number += digits;
    number += 'e';
    number += std::to_string(exponent10);
    return std::strtod(number.c_str(), nullptr);
}

} // namespace

double readLeadingNumber(const QString& text) {
    QString packed;
    packed.reserve(text.size());
    for (const QChar c : text) {
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t') && c != QLatin1Char('\n'))
            packed.append(c);
    }
    if (packed.size() >= 2 && packed.at(0) == QLatin1Char('&')) {
        const QChar kind = packed.at(1).toUpper();
        if (kind == QLatin1Char('H'))
            return readBased(packed, 2, 16);
        if (kind == QLatin1Char('O'))
            return readBased(packed, 2, 8);
    }
    return readDecimal(packed);
}

std::optional<qint16> toInteger16(double value) {
    if (!std::isfinite(value))
        return std::nullopt;
    double rounded = std::floor(value);
    const double fraction = value - rounded;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(rounded, 2.0) != 0))
        rounded += 1;
    if (rounded < -32768.0 || rounded > 32767.0)
        return std::nullopt;
    return qint16(rounded);
}
