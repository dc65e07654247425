#pragma once

#include "LiveState.h"

#include <QString>

namespace quobin::records {

// Where a station's live view goes. write() may block for a while (a slow
// or absent server); the caller has a thread of its own for it.
class LiveSink {
public:
    virtual ~LiveSink() = default;

    // Puts the station's row and the given slots' rows in place, and drops
    // the rows of slots the station no longer has. Throws RecordStoreError
    // when the database cannot be written.
    virtual void write(const LiveSnapshot &snapshot) = 0;
    // Where the live view goes, for the operator: a file, or a server
    // without its password.
    virtual QString describe() const = 0;
};

} // namespace quobin::records
