#pragma once

#include <stdexcept>
#include <string>

namespace quobin {

// Raised by every serial operation that fails: a bad port number or setting,
// a device that cannot be opened, a read or write on a closed or vanished port.
class SerialError : public std::runtime_error {
public:
    explicit SerialError(const std::string &reason) : std::runtime_error(reason) {}
};

} // namespace quobin
