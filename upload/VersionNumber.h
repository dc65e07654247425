#pragma once

#include <QByteArray>

#include <stdexcept>

namespace quobin {

// Raised when the number is too large for single precision.
class VersionNumberError : public std::range_error {
public:
    VersionNumberError() : std::range_error("version number out of range") {}
};

// Reads the number at the start of text, as the bootloader reports its
// version after "V": blanks (space, tab, line feed) are skipped wherever they
// stand; an optional sign, digits, an optional "." and digits, an optional
// exponent (E or D, optional sign, digits); or &H / &O and a hexadecimal or
// octal integer. Reading stops at the first other character; text that does
// not begin with a number gives 0. The result is the nearest single-precision
// value.
float readVersionNumber(const QByteArray &text);

} // namespace quobin
