#pragma once

#include "BoardRecord.h"
#include "RecordStore.h"
#include "SerialUse.h"

#include <QDateTime>
#include <QList>
#include <QString>

class QSqlDatabase;
class QSqlError;

namespace quobin::records {

// The tables, in SQL that SQLite and PostgreSQL both speak: the records
// (text UUID key, times as ISO 8601 UTC text, so that they sort as text), a
// schema version, and a local spool of records on their way to a server.
// The live view of the stations and slots, kept by the stations. Every
// function throws RecordStoreError naming `where` when the database
// refuses.
namespace schema {

// A database made by a newer Quobin, whose records this one must not touch.
class NewerSchemaError : public RecordStoreError {
public:
    using RecordStoreError::RecordStoreError;
};

// 2: records carry their series and serial; counters of serial numbers.
// 3: records say whether their serial went out; counters keep their step.
// 4: approved jobs; records name the job and version they were flashed from,
//    and the board's ID with whether it was a re-flash.
// 5: records keep the USB socket of the slot's adapter; the live view of the
//    line (station_live, slot_live) and the views of the records' figures
//    (line_hourly, line_failures).
constexpr int version = 5;

// Quiets a PostgreSQL connection's notices ("relation already exists"),
// which libpq would print on the operator's terminal.
void quietServer(QSqlDatabase &db);
// A server's connection, opened when it is not open yet, quieted and with
// the schema in place; where names the server in messages. A failure leaves
// it closed (the next call connects afresh) and throws RecordStoreError.
QSqlDatabase &openServer(QSqlDatabase &db, const QString &where);

// Creates what is missing; refuses a database of a newer schema version.
// withSpool adds the spool table (local databases only).
void ensure(QSqlDatabase &db, const QString &where, bool withSpool);

// For a reader: throws RecordStoreError when the database holds no Quobin
// records (no schema of its own), NewerSchemaError when a newer Quobin made
// it. Makes nothing. Returns the database's schema version, which may be an
// older one: select() reads that too.
int requireRecords(QSqlDatabase &db, const QString &where);

// For a reader of a server: makes the tables when there are none yet (as
// ensure()), else changes nothing and returns the database's version, which
// may be an older one; refuses a newer one.
int readable(QSqlDatabase &db, const QString &where);

// What the serial counters know of each series: its step (version 3 on),
// and the numbers given back that wait to be used again.
QMap<QString, SeriesState> seriesStates(QSqlDatabase &db, const QString &where, int schemaVersion = version);

// Adds the record unless one with its id is there already, so that a
// resend is harmless.
void insert(QSqlDatabase &db, const BoardRecord &record, const QString &where);
// Records that started at or after since (all when null), oldest first.
// schemaVersion: the database's, when a reader found an older one.
QList<BoardRecord> select(QSqlDatabase &db, const QDateTime &since, const QString &where,
                          int schemaVersion = version);
// Up to limit records that match filter, newest first, after skipping offset.
QList<BoardRecord> selectPage(QSqlDatabase &db, const RecordFilter &filter, int offset, int limit,
                              const QString &where);
// Every record that matches filter, oldest first.
QList<BoardRecord> selectMatching(QSqlDatabase &db, const RecordFilter &filter, const QString &where);
int countMatching(QSqlDatabase &db, const RecordFilter &filter, const QString &where);
// The distinct values of the slot or the result column, sorted.
QStringList distinctSlots(QSqlDatabase &db, const QString &where);
QStringList distinctResults(QSqlDatabase &db, const QString &where);

struct Spooled {
    qint64 sequence = 0;
    BoardRecord record;
};
// Keeps the record for server in the spool.
void spool(QSqlDatabase &db, const QString &server, const BoardRecord &record, const QString &where);
// The oldest spooled records for server, in the order they were spooled.
QList<Spooled> spooled(QSqlDatabase &db, const QString &server, int limit, const QString &where);
// Removes server's spooled records up to and including sequence.
void unspoolThrough(QSqlDatabase &db, const QString &server, qint64 sequence, const QString &where);
int spooledCount(QSqlDatabase &db, const QString &server, const QString &where);
// Every server that has records in the spool, with their number, by key.
QList<SpoolWaiting> spools(QSqlDatabase &db, const QString &where);

// The database's own reason on one line, else the driver's.
QString reasonOf(const QSqlError &error);

// How times are written: "2026-03-01T08:15:02.250Z".
QString timeText(const QDateTime &time);

} // namespace schema
} // namespace quobin::records
