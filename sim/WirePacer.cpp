#include "WirePacer.h"

#include <algorithm>

namespace quobin::sim {

SimClock::duration WirePacer::byteTime(int baud)
{
    using namespace std::chrono;
    return duration_cast<SimClock::duration>(nanoseconds(10'000'000'000LL / baud));
}

TimePoint WirePacer::receiveEnd(TimePoint now, qsizetype bytes, int baud)
{
    if (baud <= 0)
        return now;
    m_inputFree = std::max(now, m_inputFree) + bytes * byteTime(baud);
    return m_inputFree;
}

TimePoint WirePacer::transmitEnd(TimePoint due, qsizetype bytes, int baud)
{
    if (baud <= 0)
        return due;
    m_outputFree = std::max(due, m_outputFree) + bytes * byteTime(baud);
    return m_outputFree;
}

} // namespace quobin::sim
