#pragma once

#include <QtGlobal>

#include <stdexcept>

namespace quobin {

// Raised when a 16-bit counter would pass its range.
class CounterOverflow : public std::overflow_error {
public:
    CounterOverflow() : std::overflow_error("16-bit counter overflow") {}
};

// The upload counts lines and tries in 16 bits; going past 32,767 (or below
// -32,768) is a failure like any other, never a silent wrap.
inline qint16 checkedAdd(qint16 value, int delta)
{
    const int result = int(value) + delta;
    if (result > 32767 || result < -32768)
        throw CounterOverflow();
    return qint16(result);
}

} // namespace quobin
