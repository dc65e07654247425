#pragma once

#include <atomic>

namespace quobin::cli {

// Ctrl-C, SIGTERM and SIGHUP (the terminal or the session going away) act as
// the window's Cancel button. The handler only notes the first signal
// (async-signal-safe); every port's engine reads it at its usual checkpoints,
// and each port still records its result.
class CancelSignal {
public:
    // Installs the handlers for SIGINT, SIGTERM and SIGHUP; the old ones come
    // back when this object goes.
    CancelSignal();
    ~CancelSignal();
    CancelSignal(const CancelSignal &) = delete;
    CancelSignal &operator=(const CancelSignal &) = delete;

    static bool requested();
    // The cancel came from SIGHUP.
    static bool hungUp();
};

} // namespace quobin::cli
