#pragma once

#include "BoardRecord.h"
#include "RecordSummary.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace quobin::cli {

// The records and their summaries for a terminal: one line per record, then
// one line per job and slot.
QString recordsText(const QList<records::BoardRecord> &records, const QList<records::RecordSummary> &summaries);
// One JSON object per line per record, then {"summary": [...],
// "waitingForServer": N}.
QByteArray recordsJsonLines(const QList<records::BoardRecord> &records,
                            const QList<records::RecordSummary> &summaries, int waitingForServer);

} // namespace quobin::cli
