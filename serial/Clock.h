#pragma once

#include <QtGlobal>

namespace quobin {

// Whole seconds for the waits, and the blocking pause.
class Clock {
public:
    virtual ~Clock() = default;
    // A reading in whole seconds; the difference of two readings is the
    // number of whole-second boundaries crossed between them.
    virtual qint64 now() = 0;
    // Milliseconds until the next whole-second boundary (at least 1).
    virtual int msecsToNextSecond() = 0;
    // Blocks the thread for msecs; runs no window events.
    virtual void sleep(int msecs) = 0;
    // A monotonic reading in milliseconds, for gaps shorter than a second.
    // Real time unless a clock says otherwise.
    virtual qint64 msecsNow();
};

// Counts whole-second boundaries on a monotonic clock, so that a change of
// the system time cannot lengthen or shorten a wait.
class SteadyClock : public Clock {
public:
    qint64 now() override;
    int msecsToNextSecond() override;
    void sleep(int msecs) override;
};

} // namespace quobin
