#include "ScannedBoardIds.h"

#include <chrono>

namespace quobin {

void ScannedBoardIds::give(int slot, const QString &id)
{
    {
        std::lock_guard lock(m_mutex);
        m_given[slot].append(id);
    }
    m_arrived.notify_all();
}

void ScannedBoardIds::clear()
{
    std::lock_guard lock(m_mutex);
    m_given.clear();
}

std::optional<QString> ScannedBoardIds::take(int slot, int msecs)
{
    std::unique_lock lock(m_mutex);
    const bool arrived = m_arrived.wait_for(lock, std::chrono::milliseconds(msecs),
                                            [&] { return !m_given.value(slot).isEmpty(); });
    if (!arrived)
        return std::nullopt;
    return m_given[slot].takeFirst();
}

void ScannedBoardIds::stopWaiting(int)
{
    // The window tells who waits from the tiles' states; an ID given stays
    // its slot's until taken.
}

} // namespace quobin
