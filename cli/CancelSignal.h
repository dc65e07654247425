#pragma once

#include <atomic>

namespace quobin::cli {

// Ctrl-C and SIGTERM act as the window's Cancel button. The handler only
// sets a flag (async-signal-safe); every port's engine reads it at its usual
// checkpoints.
class CancelSignal {
public:
    // Installs the handlers for SIGINT and SIGTERM; the old ones come back
    // when this object goes.
    CancelSignal();
    ~CancelSignal();
    CancelSignal(const CancelSignal &) = delete;
    CancelSignal &operator=(const CancelSignal &) = delete;

    static bool requested();
};

} // namespace quobin::cli
