#include "RunControl.h"

namespace quobin::station {

RunControl::RunControl(int goodBoards)
    : m_goodBoards(goodBoards)
{
    m_running.start();
}

void RunControl::fail(const QString &reason)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_failure.isEmpty())
            m_failure = reason;
    }
    m_finishing = true;
    m_cancelled = true;
}

QString RunControl::failure() const
{
    std::lock_guard lock(m_mutex);
    return m_failure;
}

StationCounts RunControl::countBoard(bool passed, bool cancelled)
{
    std::lock_guard lock(m_mutex);
    if (passed)
        ++m_counts.passed;
    else
        ++m_counts.failed;
    if (cancelled)
        ++m_counts.cancelled;
    if (m_goodBoards > 0 && m_counts.passed >= m_goodBoards) {
        m_countReached = true;
        m_finishing = true;
    }
    StationCounts counts = m_counts;
    counts.hours = m_running.elapsed() / 3'600'000.0;
    return counts;
}

StationCounts RunControl::counts() const
{
    std::lock_guard lock(m_mutex);
    StationCounts counts = m_counts;
    counts.hours = m_running.elapsed() / 3'600'000.0;
    return counts;
}

} // namespace quobin::station
