#include "VersionNumber.h"

#include <cmath>
#include <cctype>
#include <cstdlib>
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

double readDecimal(const std::string &s)
{
    std::string number;
    size_t pos = 0;
    if (pos < s.size() && (s[pos] == '+' || s[pos] == '-'))
        number.push_back(s[pos++]);
    bool anyDigit = false;
    while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos]))) {
        number.push_back(s[pos++]);
        anyDigit = true;
    }
    if (pos < s.size() && s[pos] == '.') {
        number.push_back(s[pos++]);
        while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos]))) {
            number.push_back(s[pos++]);
            anyDigit = true;
        }
    }
    if (!anyDigit)
        return 0.0;
    if (pos < s.size() && (s[pos] == 'E' || s[pos] == 'e' || s[pos] == 'D' || s[pos] == 'd')) {
        size_t exponentEnd = pos + 1;
        std::string exponent = "e";
        if (exponentEnd < s.size() && (s[exponentEnd] == '+' || s[exponentEnd] == '-'))
            exponent.push_back(s[exponentEnd++]);
        bool exponentDigits = false;
        while (exponentEnd < s.size() && std::isdigit(static_cast<unsigned char>(s[exponentEnd]))) {
            exponent.push_back(s[exponentEnd++]);
            exponentDigits = true;
        }
        if (exponentDigits)
            number += exponent;
    }
    const double value = std::strtod(number.c_str(), nullptr);
    if (std::isinf(value))
        throw VersionNumberError();
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
