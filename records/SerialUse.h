#pragma once

#include "BoardRecord.h"

#include <QList>
#include <QString>
#include <QtGlobal>

namespace quobin::records {

// A run of numbers of a series that no passed board carries: numbers a
// station took and did not use (it ended, or its server was away and it
// reserved more than it flashed).
struct SerialGap {
    quint64 first = 0;
    quint64 last = 0;
    quint64 count = 0;
};

// How a series' numbers were used, as far as the records show.
struct SeriesUse {
    QString series;
    int passed = 0;       // boards that passed with a number of the series
    quint64 lowest = 0;   // the lowest and highest number that passed
    quint64 highest = 0;
    quint64 step = 1;     // the distance between numbers, as the passed ones show it
    QList<SerialGap> gaps;
    quint64 unused = 0;   // numbers in the gaps
};

// Per series (in the order of their names), from the passed records: the
// numbers between the lowest and the highest that no passed board has. The
// step is taken as the greatest common divisor of the distances between the
// passed numbers, so that a series counted by 2 shows no odd gaps.
QList<SeriesUse> serialUse(const QList<BoardRecord> &records);

} // namespace quobin::records
