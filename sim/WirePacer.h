#pragma once

#include "Recording.h"

#include <QtGlobal>

namespace quobin::sim {

// Models a serial wire at the host's baud rate: 10 bits a byte (start, 8 data,
// stop), one byte after another in each direction. The simulator takes the
// host's bytes as soon as they are there, and times what it does with them
// from when the wire would have delivered them; its answers take their wire
// time too. A baud rate of 0 or less means no limit.
class WirePacer {
public:
    // bytes were read at now: they cross the wire after whatever it still
    // carries (or from now, when it is idle). Returns when the last arrives.
    TimePoint receiveEnd(TimePoint now, qsizetype bytes, int baud);
    // True while bytes already read are still crossing the wire.
    bool receiving(TimePoint now) const { return now < m_inputFree; }

    // When bytes written no earlier than due have been carried to the host,
    // after whatever the wire is still carrying.
    TimePoint transmitEnd(TimePoint due, qsizetype bytes, int baud);

private:
    static SimClock::duration byteTime(int baud);

    TimePoint m_inputFree;
    TimePoint m_outputFree;
};

} // namespace quobin::sim
