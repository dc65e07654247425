#include "SerialCounters.h"

#include "RecordSchema.h"
#include "RecordStore.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <limits>

namespace quobin::records::counters {

namespace {

// The largest number a counter holds (BIGINT is signed); a counter at
// kPastTheEnd has handed out that number too.
constexpr quint64 kCounterLimit = quint64(std::numeric_limits<qint64>::max());
constexpr qint64 kPastTheEnd = -1;

[[noreturn]] void fail(const QString &what, const QString &where, const QSqlError &error)
{
    throw RecordStoreError(QStringLiteral("%1 %2: %3").arg(what, where, schema::reasonOf(error)));
}

QSqlQuery run(QSqlDatabase &db, const QString &sql, const QVariantList &values, const QString &where)
{
    QSqlQuery query(db);
    if (!query.prepare(sql))
        fail(QStringLiteral("Cannot use the serial counters of"), where, query.lastError());
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec())
        fail(QStringLiteral("Cannot take serial numbers from"), where, query.lastError());
    return query;
}

bool isSqlite(const QSqlDatabase &db)
{
    return db.driverName() == QLatin1String("QSQLITE");
}

// SQLite takes the write lock at once (waiting for another process with the
// busy timeout) instead of failing when a read turns into a write.
void begin(QSqlDatabase &db, const QString &where)
{
    QSqlQuery query(db);
    if (!query.exec(isSqlite(db) ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN")))
        fail(QStringLiteral("Cannot take serial numbers from"), where, query.lastError());
}

void commit(QSqlDatabase &db, const QString &where)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("COMMIT")))
        fail(QStringLiteral("Cannot take serial numbers from"), where, query.lastError());
}

void rollback(QSqlDatabase &db)
{
    QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
}

} // namespace

QList<quint64> take(QSqlDatabase &db, const SeriesRule &rule, int count, const QString &where)
{
    const quint64 limit = qMin(rule.limit, kCounterLimit);
    // A step past every number the records keep makes first the only one.
    const qint64 step = qint64(qMin(rule.step, kCounterLimit));
    // Another station may move the counter between the read and the write:
    // the write then changes nothing, and the round starts again.
    for (int attempt = 0; attempt < 50; ++attempt) {
        begin(db, where);
        try {
            run(db, QStringLiteral("INSERT INTO serial_counters (series, next_serial, step) VALUES (?, ?, ?)"
                                   " ON CONFLICT (series) DO NOTHING"),
                {rule.series, qint64(qMin(rule.first, kCounterLimit)), step}, where);
            QSqlQuery found = run(db, QStringLiteral("SELECT next_serial, step FROM serial_counters WHERE series = ?"),
                                  {rule.series}, where);
            if (!found.next())
                fail(QStringLiteral("Cannot take serial numbers from"), where, found.lastError());
            const qint64 storedValue = found.value(0).toLongLong();
            const bool stepKept = !found.value(1).isNull() && found.value(1).toLongLong() == step;
            found.finish();
            if (!stepKept)
                run(db, QStringLiteral("UPDATE serial_counters SET step = ? WHERE series = ?"), {step, rule.series}, where);
            QList<quint64> numbers;
            // The numbers given back first, those of the rule only; each
            // must still be there when it is taken, else another station
            // took it meanwhile.
            QSqlQuery returned = run(db, QStringLiteral("SELECT serial FROM serial_returned WHERE series = ?"
                                                        " AND serial >= ? AND serial <= ? AND (serial - ?) % ? = 0"
                                                        " ORDER BY serial LIMIT %1").arg(count),
                                     {rule.series, qint64(rule.first), qint64(limit), qint64(rule.first), step}, where);
            while (returned.next())
                numbers.append(quint64(returned.value(0).toLongLong()));
            returned.finish();
            bool raced = false;
            for (quint64 number : std::as_const(numbers)) {
                QSqlQuery gone = run(db, QStringLiteral("DELETE FROM serial_returned WHERE series = ? AND serial = ?"),
                                     {rule.series, qint64(number)}, where);
                raced = raced || gone.numRowsAffected() != 1;
            }
            if (raced) {
                rollback(db);
                continue;
            }
            if (numbers.size() == count || storedValue == kPastTheEnd) {
                commit(db, where);
                return numbers;
            }
            const qsizetype given = numbers.size();
            // The counter's next number of the rule: at first or above it,
            // on the step.
            quint64 number = qMax(quint64(qMax<qint64>(0, storedValue)), rule.first);
            bool ended = number > limit;
            if (!ended) {
                const quint64 off = (number - rule.first) % quint64(step);
                if (off != 0) {
                    ended = limit - number < quint64(step) - off;
                    number += quint64(step) - off;
                }
            }
            while (!ended && numbers.size() < count) {
                numbers.append(number);
                ended = limit - number < quint64(step);
                if (!ended)
                    number += quint64(step);
            }
            if (numbers.size() == given) {
                commit(db, where);
                return numbers;
            }
            // Past the last number: the number after it where it is one the
            // database holds, else the mark that every number is out.
            qint64 next = qint64(number);
            if (ended)
                next = kCounterLimit - numbers.last() >= quint64(step) ? qint64(numbers.last() + quint64(step)) : kPastTheEnd;
            QSqlQuery moved = run(db, QStringLiteral("UPDATE serial_counters SET next_serial = ?"
                                                     " WHERE series = ? AND next_serial = ?"),
                                  {next, rule.series, storedValue}, where);
            if (moved.numRowsAffected() != 1) {
                rollback(db);
                continue;
            }
            commit(db, where);
            return numbers;
        } catch (const RecordStoreError &) {
            rollback(db);
            throw;
        }
    }
    throw RecordStoreError(QStringLiteral("Cannot take serial numbers from %1: the counter of %2 keeps moving")
                               .arg(where, rule.series));
}

void giveBack(QSqlDatabase &db, const QString &series, const QList<quint64> &numbers, const QString &where)
{
    begin(db, where);
    try {
        for (quint64 number : numbers)
            run(db, QStringLiteral("INSERT INTO serial_returned (series, serial) VALUES (?, ?)"
                                   " ON CONFLICT (series, serial) DO NOTHING"),
                {series, qint64(number)}, where);
        commit(db, where);
    } catch (const RecordStoreError &) {
        rollback(db);
        throw;
    }
}

std::optional<quint64> next(QSqlDatabase &db, const QString &series, const QString &where)
{
    QSqlQuery found = run(db, QStringLiteral("SELECT next_serial FROM serial_counters WHERE series = ?"),
                          {series}, where);
    if (!found.next() || found.value(0).toLongLong() < 0)
        return std::nullopt;
    return quint64(found.value(0).toLongLong());
}

} // namespace quobin::records::counters
