#include "WirePacer.h"

#include <algorithm>

namespace quobin::sim {

namespace {
constexpr qsizetype maxBurst = 4096;
}

SimClock::duration WirePacer::byteTime(int baud)
{
    using namespace std::chrono;
    return duration_cast<SimClock::duration>(nanoseconds(10'000'000'000LL / baud));
}

qsizetype WirePacer::readAllowance(TimePoint now, int baud)
{
    if (baud <= 0)
        return maxBurst;
    if (m_inputIdle) {
        m_inputIdle = false;
        m_inputClock = now;
    }
    return std::min<qsizetype>(maxBurst, (now - m_inputClock) / byteTime(baud));
}

void WirePacer::taken(qsizetype got, qsizetype allowed, int baud)
{
    if (baud <= 0)
        return;
    m_inputClock += got * byteTime(baud);
    if (got < allowed)
        m_inputIdle = true;
}

std::optional<TimePoint> WirePacer::nextByteAt(int baud) const
{
    if (baud <= 0 || m_inputIdle)
        return std::nullopt;
    return m_inputClock + byteTime(baud);
}

TimePoint WirePacer::transmitEnd(TimePoint due, qsizetype bytes, int baud)
{
    if (baud <= 0)
        return due;
    m_outputFree = std::max(due, m_outputFree) + bytes * byteTime(baud);
    return m_outputFree;
}

} // namespace quobin::sim
