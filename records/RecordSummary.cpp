#include "RecordSummary.h"

#include <algorithm>

namespace quobin::records {

QList<RecordSummary> summarize(const QList<BoardRecord> &records)
{
    QList<RecordSummary> summaries;
    for (const BoardRecord &record : records) {
        auto found = std::find_if(summaries.begin(), summaries.end(), [&](const RecordSummary &s) {
            return s.jobSha256 == record.jobSha256 && s.station == record.station && s.slot == record.slot;
        });
        if (found == summaries.end()) {
            summaries.append({record.jobSha256, record.jobFile, record.station, record.slot, 0, 0, {}});
            found = summaries.end() - 1;
        }
        if (record.cancelled()) {
            ++found->cancelled;
            continue;
        }
        ++found->boards;
        if (record.passed())
            ++found->passed;
        else
            ++found->failedByResult[record.result];
    }
    return summaries;
}

} // namespace quobin::records
