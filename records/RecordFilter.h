#pragma once

#include "BoardRecord.h"

#include <QString>

namespace quobin::records {

// Which records a reader asks for: by result (every one, the passes, the
// failures, or one result by name) and by slot (every slot when empty).
struct RecordFilter {
    enum class Results { All, Passed, Failed, Named };
    Results results = Results::All;
    QString result; // with Named
    QString slot;
    QString boardId;

    bool matches(const BoardRecord &record) const
    {
        switch (results) {
        case Results::All: break;
        case Results::Passed: if (!record.passed()) return false; break;
        case Results::Failed: if (record.passed()) return false; break;
        case Results::Named: if (record.result != result) return false; break;
        }
        return (slot.isEmpty() || record.slot == slot) && (boardId.isEmpty() || record.boardId == boardId);
    }

    bool operator==(const RecordFilter &) const = default;
};

} // namespace quobin::records
