#include "SerialCounters.h"

#include "RecordSchema.h"
#include "RecordStore.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <limits>

namespace quobin::records::counters {

namespace {

// The largest number a counter holds (BIGINT is signed).
constexpr quint64 kCounterLimit = quint64(std::numeric_limits<qint64>::max());

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
    const quint64 limit = qMin(rule.limit, kCounterLimit - qMin(rule.step, kCounterLimit));
    // Another station may move the counter between the read and the write:
    // the write then changes nothing, and the round starts again.
    for (int attempt = 0; attempt < 50; ++attempt) {
        begin(db, where);
        try {
            run(db, QStringLiteral("INSERT INTO serial_counters (series, next_serial) VALUES (?, ?)"
                                   " ON CONFLICT (series) DO NOTHING"),
                {rule.series, qint64(qMin(rule.first, kCounterLimit))}, where);
            QSqlQuery found = run(db, QStringLiteral("SELECT next_serial FROM serial_counters WHERE series = ?"),
                                  {rule.series}, where);
            if (!found.next())
                fail(QStringLiteral("Cannot take serial numbers from"), where, found.lastError());
            const quint64 stored = quint64(qMax<qint64>(0, found.value(0).toLongLong()));
            found.finish();
            QList<quint64> numbers;
            // The numbers given back first; each must still be there when
            // it is taken, else another station took it meanwhile.
            QSqlQuery returned = run(db, QStringLiteral("SELECT serial FROM serial_returned WHERE series = ?"
                                                        " ORDER BY serial LIMIT %1").arg(count),
                                     {rule.series}, where);
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
            if (numbers.size() == count) {
                commit(db, where);
                return numbers;
            }
            const qsizetype given = numbers.size();
            quint64 number = qMax(stored, rule.first);
            while (numbers.size() < count && number <= limit) {
                numbers.append(number);
                number += rule.step;
            }
            if (numbers.size() == given) {
                commit(db, where);
                return numbers;
            }
            QSqlQuery moved = run(db, QStringLiteral("UPDATE serial_counters SET next_serial = ?"
                                                     " WHERE series = ? AND next_serial = ?"),
                                  {qint64(number), rule.series, qint64(stored)}, where);
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
    if (!found.next())
        return std::nullopt;
    return quint64(qMax<qint64>(0, found.value(0).toLongLong()));
}

} // namespace quobin::records::counters
