#pragma once

#include "BoardRecord.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QtGlobal>

#include <optional>
#include <set>

namespace quobin::records {

// A run of numbers of a series that no passed board carries and that wait
// nowhere: numbers a station took and lost (it was killed, or its server was
// away when it ended).
struct SerialGap {
    quint64 first = 0;
    quint64 last = 0;
    quint64 count = 0;
};

// What the records' serial counters know of a series.
struct SeriesState {
    // The series' step, as the run that took numbers last counted; unknown
    // in databases made before it was kept.
    std::optional<quint64> step;
    // Numbers given back unused, waiting to be the next boards' first.
    std::set<quint64> returned;
};

// How a series' numbers were used, as far as the records show.
struct SeriesUse {
    QString series;
    int passed = 0;       // boards that passed with a number of the series
    quint64 lowest = 0;   // the lowest and highest number that passed
    quint64 highest = 0;
    quint64 step = 1;     // the distance between numbers
    bool stepKnown = false; // the counter's step; else taken from the passed numbers
    QList<SerialGap> gaps;
    quint64 unused = 0;   // numbers in the gaps
    quint64 waiting = 0;  // numbers given back, between lowest and highest, waiting to be used
};

// Per series (in the order of their names), from the passed records: the
// numbers between the lowest and the highest that no passed board has and
// that were not given back. The step is the series' own, as its counter
// keeps it; only where the counter does not know it (a database of an
// older Quobin) is it taken as the greatest common divisor of the
// distances between the passed numbers.
QList<SeriesUse> serialUse(const QList<BoardRecord> &records, const QMap<QString, SeriesState> &states = {});

} // namespace quobin::records
