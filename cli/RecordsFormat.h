#pragma once

#include "BoardRecord.h"
#include "RecordSummary.h"
#include "SerialUse.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace quobin::cli {

// The records and their summaries for a terminal: one line per record, then
// one line per job and slot.
QString recordsText(const QList<records::BoardRecord> &records, const QList<records::RecordSummary> &summaries);
// Per series: the passed boards, the numbers from lowest to highest, and the
// numbers taken and not used (gaps); empty without serials.
QString seriesText(const QList<records::SeriesUse> &uses);
// One JSON object per line per record, then {"summary": [...],
// "waitingForServer": N}, with "series": [...] when records carry serials.
QByteArray recordsJsonLines(const QList<records::BoardRecord> &records,
                            const QList<records::RecordSummary> &summaries, int waitingForServer);

} // namespace quobin::cli
