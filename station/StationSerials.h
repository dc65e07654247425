#pragma once

#include "SerialAllocator.h"
#include "SerialPlace.h"
#include "SerialSpec.h"

namespace quobin::station {

// A station that writes a serial number into every board: how numbers are
// written, where they lie in the job's image (found once, at start), and
// who hands them out.
struct StationSerials {
    SerialSpec format;
    SerialPlace place;
    records::SerialAllocator &allocator;
};

} // namespace quobin::station
