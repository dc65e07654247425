#pragma once

#include "Recording.h"

#include <QByteArray>
#include <QList>

#include <optional>

namespace quobin::sim {

struct ScheduledOutput {
    TimePoint due;
    QByteArray bytes;
    int line = 0;         // the firmware line these bytes answer, 0 for none
    bool vanish = false;  // close the pseudo-terminal instead of writing
    bool onWire = false;  // due already includes the wire time
};

// Outputs waiting for their time, in order of due time; outputs due at the
// same time keep the order they were added in.
class OutputSchedule {
public:
    void add(ScheduledOutput output);
    std::optional<TimePoint> nextDue() const;
    // Removes and returns the outputs due by now, in order.
    QList<ScheduledOutput> takeDue(TimePoint now);
    void clear() { m_outputs.clear(); }

private:
    QList<ScheduledOutput> m_outputs;
};

} // namespace quobin::sim
