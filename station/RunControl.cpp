#include "RunControl.h"

namespace quobin::station {

RunControl::RunControl(int goodBoards, int slotCount)
    : m_goodBoards(goodBoards), m_trouble(slotCount)
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
}

QString RunControl::failure() const
{
    std::lock_guard lock(m_mutex);
    return m_failure;
}

void RunControl::setTrouble(int slot, const QString &reason)
{
    QStringList reasons;
    {
        std::lock_guard lock(m_mutex);
        m_trouble[slot] = reason;
        for (const QString &trouble : std::as_const(m_trouble)) {
            if (trouble.isEmpty())
                return;
            reasons << trouble;
        }
    }
    fail(QStringLiteral("no slot can be used: ") + reasons.join(QStringLiteral("; ")));
}

void RunControl::clearTrouble(int slot)
{
    std::lock_guard lock(m_mutex);
    m_trouble[slot].clear();
}

StationCounts RunControl::countBoard(bool passed, bool cancelled)
{
    std::lock_guard lock(m_mutex);
    if (passed)
        ++m_counts.passed;
    else if (cancelled)
        ++m_counts.cancelled;
    else
        ++m_counts.failed;
    if (m_goodBoards > 0 && m_counts.passed >= m_goodBoards) {
        m_countReached = true;
        m_finishing = true;
    }
    StationCounts counts = m_counts;
    counts.hours = m_running.elapsed() / 3'600'000.0;
    return counts;
}

StationCounts RunControl::countNoResponse()
{
    std::lock_guard lock(m_mutex);
    ++m_counts.noResponse;
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

bool RunControl::claimBoardId(const QString &id)
{
    std::lock_guard lock(m_mutex);
    if (m_claimedBoardIds.contains(id))
        return false;
    m_claimedBoardIds.insert(id);
    return true;
}

void RunControl::releaseBoardId(const QString &id)
{
    std::lock_guard lock(m_mutex);
    m_claimedBoardIds.remove(id);
}

} // namespace quobin::station
