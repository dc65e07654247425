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
// Per series: the passed boards, the numbers from lowest to highest by the
// series' step, the numbers taken and lost (gaps) and those given back that
// wait to be used; empty without serials.
QString seriesText(const QList<records::SeriesUse> &uses);
// One JSON object per line per record, then {"summary": [...],
// "waitingForServer": N}, with "series": [...] when records carry serials;
// every line with "schema".
QByteArray recordsJsonLines(const QList<records::BoardRecord> &records,
                            const QList<records::RecordSummary> &summaries, int waitingForServer,
                            const QList<records::SeriesUse> &uses);

} // namespace quobin::cli
