#pragma once

#include "Recording.h"

#include <QtGlobal>

#include <optional>

namespace quobin::sim {

// Models a serial wire at the host's baud rate: 10 bits a byte (start, 8 data,
// stop), so bytes arrive no faster than the wire carries them and the
// controller's answers take their wire time too. A baud rate of 0 or less
// means no limit.
class WirePacer {
public:
    // The number of bytes the wire has delivered by now and not yet been
    // taken. A read from an idle wire starts the clock: the first byte is
    // delivered one byte time later.
    qsizetype readAllowance(TimePoint now, int baud);
    // got of the allowed bytes were read. Fewer than allowed means the host
    // has nothing more to send: the wire goes idle.
    void taken(qsizetype got, qsizetype allowed, int baud);
    // When the next byte can be delivered, if the wire is busy.
    std::optional<TimePoint> nextByteAt(int baud) const;

    // When bytes written no earlier than due have been carried to the host,
    // after whatever the wire is still carrying.
    TimePoint transmitEnd(TimePoint due, qsizetype bytes, int baud);

private:
    static SimClock::duration byteTime(int baud);

    bool m_inputIdle = true;
    TimePoint m_inputClock;
    TimePoint m_outputFree;
};

} // namespace quobin::sim
