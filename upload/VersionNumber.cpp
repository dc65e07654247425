#include "VersionNumber.h"

#include <QtGlobal>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace quobin {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

// The characters of text with the blanks taken out, up to the first NUL.
std::string withoutBlanks(const QByteArray &text)
{
    std::string kept;
    kept.reserve(size_t(text.size()));
    for (const char c : text) {
        if (c == '\0')
            break;
        if (!isBlank(c))
            kept.push_back(c);
    }
    return kept;
}

// The value of c as a digit of base, or -1.
int digitValue(char c, int base)
{
    int value = -1;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    return value < base ? value : -1;
}

// &H and &O give integers; values that fit 16 bits are read as signed 16-bit
// (so &HFFFF is -1), those that fit 32 bits as signed 32-bit.
double readPrefixedInteger(const std::string &s, size_t pos, int base)
{
    quint64 value = 0;
    for (; pos < s.size() && digitValue(s[pos], base) >= 0; ++pos) {
        value = value * quint64(base) + quint64(digitValue(s[pos], base));
        if (value > 0xFFFFFFFFull)
            throw VersionNumberError();
    }
    if (value <= 0xFFFF)
        return double(qint16(quint16(value)));
    return double(qint32(quint32(value)));
}

bool isDecimalDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Reads a run of decimal digits at pos into a saturating count, so that an
// exponent of any length stays a number.
qint64 readExponentDigits(const std::string &s, size_t &pos)
{
    qint64 value = 0;
    for (; pos < s.size() && isDecimalDigit(s[pos]); ++pos)
        value = qMin<qint64>(value * 10 + (s[pos] - '0'), 1'000'000'000);
    return value;
}

// The number is converted by std::from_chars, which reads "." as the decimal
// point whatever the process locale says: a desktop that writes decimals
// with a comma sets that locale, and the version must read the same there.
double readDecimal(const std::string &s)
{
    std::string number;
    size_t pos = 0;
    bool negative = false;
    if (pos < s.size() && (s[pos] == '+' || s[pos] == '-'))
        negative = s[pos++] == '-';
    if (negative)
        number.push_back('-'); // from_chars takes no "+"
    // Where the first significant digit stands relative to the point; only
    // needed to tell a number too large from one too small.
    qint64 magnitude = 0;
    bool significant = false;
    bool anyDigit = false;
    while (pos < s.size() && isDecimalDigit(s[pos])) {
        significant = significant || s[pos] != '0';
        if (significant)
            ++magnitude;
        number.push_back(s[pos++]);
        anyDigit = true;
    }
    if (pos < s.size() && s[pos] == '.') {
        number.push_back(s[pos++]);
        while (pos < s.size() && isDecimalDigit(s[pos])) {
            if (!significant && s[pos] == '0')
                --magnitude;
            significant = significant || s[pos] != '0';
            number.push_back(s[pos++]);
            anyDigit = true;
        }
    }
    if (!anyDigit)
        return 0.0;
    if (pos < s.size() && (s[pos] == 'E' || s[pos] == 'e' || s[pos] == 'D' || s[pos] == 'd')) {
        size_t exponentEnd = pos + 1;
        bool exponentNegative = false;
        if (exponentEnd < s.size() && (s[exponentEnd] == '+' || s[exponentEnd] == '-'))
            exponentNegative = s[exponentEnd++] == '-';
        const size_t digitsAt = exponentEnd;
        const qint64 exponent = readExponentDigits(s, exponentEnd);
        if (exponentEnd > digitsAt) {
            number += exponentNegative ? "e-" : "e";
            number.append(s, digitsAt, exponentEnd - digitsAt);
            magnitude += exponentNegative ? -exponent : exponent;
        }
    }
    double value = 0.0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error == std::errc::result_out_of_range) {
        // Too small underflows to zero; too large is a failure.
        if (significant && magnitude > 0)
            throw VersionNumberError();
        return 0.0;
    }
    if (error != std::errc() || end != number.data() + number.size() || !std::isfinite(value))
        return 0.0;
    return value;
}

} // namespace

float readVersionNumber(const QByteArray &text)
{
    const std::string s = withoutBlanks(text);
    double value = 0.0;
    if (s.size() >= 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h'))
        value = readPrefixedInteger(s, 2, 16);
    else if (s.size() >= 2 && s[0] == '&' && (s[1] == 'O' || s[1] == 'o'))
        value = readPrefixedInteger(s, 2, 8);
    else
        value = readDecimal(s);
    if (std::fabs(value) > double(std::numeric_limits<float>::max()))
        throw VersionNumberError();
    return float(value);
}

} // namespace quobin
