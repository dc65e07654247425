#pragma once

#include <stdexcept>
#include <string>

namespace quobin::sim {

// Raised when the simulator cannot set up its pseudo-terminal or link.
class SimulatorError : public std::runtime_error {
public:
    explicit SimulatorError(const std::string &reason) : std::runtime_error(reason) {}
};

} // namespace quobin::sim
