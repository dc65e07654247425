#pragma once

#include <QString>

#include <optional>

namespace quobin::station {

// Where a slot gets the ID (the label) of the board it flashes next, when
// the job asks for one: lines on standard input for quobin-cli, a scan into
// the waiting tile for the station window, a fake in tests. Thread-safe:
// every waiting slot asks at once.
class BoardIdSource {
public:
    virtual ~BoardIdSource() = default;

    // An ID meant for slot (its index), waited for up to msecs; nothing
    // when none came meanwhile. The slot counts as waiting for one from its
    // first call until it gets one or calls stopWaiting().
    virtual std::optional<QString> take(int slot, int msecs) = 0;
    // The slot no longer waits (the job changed, the station ends).
    virtual void stopWaiting(int slot) = 0;
    // No ID will come for slot any more (the end of standard input).
    virtual bool closed(int slot) const = 0;
};

} // namespace quobin::station
