#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace quobin::records {

// How a series counts: from first, by step, up to limit, its last number
// (first + k * step, within the serial's width and never past the
// database's largest signed 64-bit number).
struct SeriesRule {
    QString series;
    quint64 first = 1;
    quint64 step = 1;
    quint64 limit = 0;
};

namespace counters {

// Takes up to count numbers of the series from the records database, in one
// transaction: first the lowest numbers that stations gave back, then from
// the counter, which moves past them. Numbers taken here are never taken
// again, by this station or any other on the same database, unless given
// back. Only numbers of the rule are taken: a number given back below first,
// off the step or past the limit (by a run that counted otherwise) stays
// where it is, for a run that counts so again. A counter that does not exist
// yet starts at the rule's first number; one below it, or off the step,
// moves up to the next number of the rule. The counter keeps the rule's
// step, for the report of gaps. Fewer numbers (none at all) come back when
// the series reaches its limit. Throws RecordStoreError naming where when
// the database refuses or cannot be reached.
QList<quint64> take(QSqlDatabase &db, const SeriesRule &rule, int count, const QString &where);

// Gives numbers taken and not used back to the series, in one transaction:
// the next station that takes numbers gets them first, so that a run's end
// leaves no gap.
void giveBack(QSqlDatabase &db, const QString &series, const QList<quint64> &numbers, const QString &where);

// The number the counter gives next, or nothing for a series without one.
std::optional<quint64> next(QSqlDatabase &db, const QString &series, const QString &where);

} // namespace counters
} // namespace quobin::records
