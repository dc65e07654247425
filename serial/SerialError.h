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

// Raised by an operation that the operator's cancel ended before it was
// done: an open still connecting to a serial server, say. Not a failure of
// the port: the upload takes its way out for a cancel.
class SerialCancelled : public SerialError {
public:
    using SerialError::SerialError;
};

} // namespace quobin
