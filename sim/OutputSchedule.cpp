#include "OutputSchedule.h"

#include <algorithm>

namespace quobin::sim {

void OutputSchedule::add(ScheduledOutput output)
{
    const auto at = std::upper_bound(m_outputs.begin(), m_outputs.end(), output.due,
                                     [](TimePoint due, const ScheduledOutput &o) { return due < o.due; });
    m_outputs.insert(at, std::move(output));
}

std::optional<TimePoint> OutputSchedule::nextDue() const
{
    if (m_outputs.isEmpty())
        return std::nullopt;
    return m_outputs.first().due;
}

QList<ScheduledOutput> OutputSchedule::takeDue(TimePoint now)
{
    QList<ScheduledOutput> due;
    while (!m_outputs.isEmpty() && m_outputs.first().due <= now)
        due.append(m_outputs.takeFirst());
    return due;
}

} // namespace quobin::sim
