#pragma once

#include "BoardRecord.h"

#include <QList>
#include <QMap>
#include <QString>

namespace quobin::records {

// The boards of one job (image) on one slot of one station.
//
// A board has no identity of its own beyond its slot and time: a board that
// failed and was flashed again is a second record, as another board would
// be. So the first-pass yield is the share of board attempts that passed:
// passed records / all records of the job and slot. A board that needed a
// second attempt therefore counts once as a pass and once against the yield.
// A board cancelled by the operator is neither: it is counted apart.
struct RecordSummary {
    QString jobSha256;
    QString jobFile;
    QString station;
    QString slot;
    int boards = 0;                     // records that passed or failed
    int passed = 0;
    QMap<QString, int> failedByResult;  // result name -> records
    int cancelled = 0;                  // records of boards the operator cancelled

    int failed() const { return boards - passed; }
    double firstPassYield() const { return boards == 0 ? 0.0 : double(passed) / boards; }
};

// One summary per job and slot (of a station), in the order each first appears.
QList<RecordSummary> summarize(const QList<BoardRecord> &records);

} // namespace quobin::records
