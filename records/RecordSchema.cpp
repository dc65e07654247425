#include "RecordSchema.h"

#include "RecordStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <optional>

namespace quobin::records::schema {

namespace {

const char kRecordColumnDefinitions[] =
    "id VARCHAR(36) NOT NULL, station TEXT NOT NULL, slot TEXT NOT NULL, device TEXT NOT NULL,"
    " usb_serial TEXT NOT NULL, by_id_name TEXT NOT NULL, job_sha256 TEXT NOT NULL,"
    " job_file TEXT NOT NULL, started TEXT NOT NULL, ended TEXT NOT NULL,"
    " seconds DOUBLE PRECISION NOT NULL, bootloader_version DOUBLE PRECISION NOT NULL,"
    " result TEXT NOT NULL, message TEXT NOT NULL, detail TEXT NOT NULL,"
    " lines_sent INTEGER NOT NULL, resends INTEGER NOT NULL, questions TEXT NOT NULL,"
    " quobin_version TEXT NOT NULL, log_path TEXT NOT NULL, series TEXT NOT NULL DEFAULT '', serial BIGINT,"
    " serial_sent INTEGER, job_name TEXT, job_version INTEGER, board_id TEXT NOT NULL DEFAULT '',"
    " reflash INTEGER NOT NULL DEFAULT 0, socket TEXT NOT NULL DEFAULT ''";

const char kRecordColumns[] =
    "id, station, slot, device, usb_serial, by_id_name, job_sha256, job_file, started, ended,"
    " seconds, bootloader_version, result, message, detail, lines_sent, resends, questions,"
    " quobin_version, log_path, series, serial, serial_sent, job_name, job_version, board_id, reflash, socket";
constexpr int kRecordColumnCount = 28;
// What a reader selects from a database of schema version 1, which had no
// serial numbers, of version 2, which did not say whether the serial went
// out, and of version 3, which had no jobs (nor board IDs): the same columns, those it lacks
// empty.
const char kRecordColumnsVersion1[] =
    "id, station, slot, device, usb_serial, by_id_name, job_sha256, job_file, started, ended,"
    " seconds, bootloader_version, result, message, detail, lines_sent, resends, questions,"
    " quobin_version, log_path, '' AS series, NULL AS serial, NULL AS serial_sent, NULL AS job_name,"
    " NULL AS job_version, '' AS board_id, 0 AS reflash, '' AS socket";
const char kRecordColumnsVersion2[] =
    "id, station, slot, device, usb_serial, by_id_name, job_sha256, job_file, started, ended,"
    " seconds, bootloader_version, result, message, detail, lines_sent, resends, questions,"
    " quobin_version, log_path, series, serial, NULL AS serial_sent, NULL AS job_name, NULL AS job_version,"
    " '' AS board_id, 0 AS reflash, '' AS socket";
const char kRecordColumnsVersion3[] =
    "id, station, slot, device, usb_serial, by_id_name, job_sha256, job_file, started, ended,"
    " seconds, bootloader_version, result, message, detail, lines_sent, resends, questions,"
    " quobin_version, log_path, series, serial, serial_sent, NULL AS job_name, NULL AS job_version, '' AS board_id,"
    " 0 AS reflash, '' AS socket";
// Version 4 kept no socket.
const char kRecordColumnsVersion4[] =
    "id, station, slot, device, usb_serial, by_id_name, job_sha256, job_file, started, ended,"
    " seconds, bootloader_version, result, message, detail, lines_sent, resends, questions,"
    " quobin_version, log_path, series, serial, serial_sent, job_name, job_version, board_id, reflash,"
    " '' AS socket";

const char *recordColumns(int schemaVersion)
{
    switch (schemaVersion) {
    case 1: return kRecordColumnsVersion1;
    case 2: return kRecordColumnsVersion2;
    case 3: return kRecordColumnsVersion3;
    case 4: return kRecordColumnsVersion4;
    default: return kRecordColumns;
    }
}

QString placeholders(int count)
{
    QStringList marks;
    for (int i = 0; i < count; ++i)
        marks << QStringLiteral("?");
    return marks.join(QStringLiteral(", "));
}

[[noreturn]] void fail(const QString &what, const QString &where, const QSqlError &error)
{
    throw RecordStoreError(QStringLiteral("%1 %2: %3").arg(what, where, reasonOf(error)));
}

QSqlQuery prepared(QSqlDatabase &db, const QString &sql, const QString &where)
{
    QSqlQuery query(db);
    if (!query.prepare(sql))
        fail(QStringLiteral("Cannot use the records database"), where, query.lastError());
    return query;
}

void execute(QSqlQuery &query, const QString &what, const QString &where)
{
    if (!query.exec())
        fail(what, where, query.lastError());
}

void execute(QSqlDatabase &db, const QString &sql, const QString &what, const QString &where)
{
    QSqlQuery query(db);
    if (!query.exec(sql))
        fail(what, where, query.lastError());
}

// A null QString would be bound as SQL NULL.
QString text(const QString &value)
{
    return value.isNull() ? QStringLiteral("") : value;
}

QString questionsText(const QList<RecordedQuestion> &questions)
{
    QJsonArray array;
    for (const RecordedQuestion &question : questions)
        array.append(QJsonObject{{QStringLiteral("line"), question.lineNumber},
                                 {QStringLiteral("reason"), question.reason},
                                 {QStringLiteral("yes"), question.answeredYes}});
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

QList<RecordedQuestion> questionsFrom(const QString &text)
{
    QList<RecordedQuestion> questions;
    const QJsonArray array = QJsonDocument::fromJson(text.toUtf8()).array();
    for (const QJsonValue &value : array) {
        const QJsonObject object = value.toObject();
        questions.append({object.value(QStringLiteral("line")).toInt(),
                          object.value(QStringLiteral("reason")).toString(),
                          object.value(QStringLiteral("yes")).toBool()});
    }
    return questions;
}

QDateTime timeFrom(const QString &text)
{
    QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    return time.isValid() ? time.toUTC() : QDateTime();
}

void bindRecord(QSqlQuery &query, const BoardRecord &r)
{
    const QVariantList values{
        r.id.toString(QUuid::WithoutBraces), text(r.station), text(r.slot), text(r.device),
        text(r.usbSerial), text(r.byIdName), text(r.jobSha256), text(r.jobFile),
        timeText(r.started), timeText(r.ended), r.seconds, double(r.bootloaderVersion),
        text(r.result), text(r.message), text(r.detail), r.linesSent, r.resends,
        questionsText(r.questions), text(r.quobinVersion), text(r.logPath), text(r.series),
        r.serial ? QVariant(qint64(*r.serial)) : QVariant(QMetaType(QMetaType::LongLong)),
        r.serialSent ? QVariant(int(*r.serialSent)) : QVariant(QMetaType(QMetaType::Int)),
        r.jobName.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(r.jobName),
        r.jobVersion ? QVariant(*r.jobVersion) : QVariant(QMetaType(QMetaType::Int)), text(r.boardId),
        int(r.reflash), text(r.socket)};
    for (const QVariant &value : values)
        query.addBindValue(value);
}

// Reads the record columns that start at column first.
BoardRecord recordAt(const QSqlQuery &q, int first)
{
    auto at = [&](int i) { return q.value(first + i); };
    BoardRecord r;
    r.id = QUuid::fromString(at(0).toString());
    r.station = at(1).toString();
    r.slot = at(2).toString();
    r.device = at(3).toString();
    r.usbSerial = at(4).toString();
    r.byIdName = at(5).toString();
    r.jobSha256 = at(6).toString();
    r.jobFile = at(7).toString();
    r.started = timeFrom(at(8).toString());
    r.ended = timeFrom(at(9).toString());
    r.seconds = at(10).toDouble();
    r.bootloaderVersion = float(at(11).toDouble());
    r.result = at(12).toString();
    r.message = at(13).toString();
    r.detail = at(14).toString();
    r.linesSent = at(15).toInt();
    r.resends = at(16).toInt();
    r.questions = questionsFrom(at(17).toString());
    r.quobinVersion = at(18).toString();
    r.logPath = at(19).toString();
    r.series = at(20).toString();
    if (!at(21).isNull())
        r.serial = quint64(at(21).toLongLong());
    if (!at(22).isNull())
        r.serialSent = at(22).toInt() != 0;
    r.jobName = at(23).toString();
    if (!at(24).isNull())
        r.jobVersion = at(24).toInt();
    r.boardId = at(25).toString();
    r.reflash = at(26).toInt() != 0;
    r.socket = at(27).toString();
    return r;
}

// The schema version the database has, 0 when it has none yet.
int versionOf(QSqlDatabase &db)
{
    QSqlQuery found(db);
    if (!found.exec(QStringLiteral("SELECT version FROM quobin_schema WHERE name = 'records'")) || !found.next())
        return 0;
    return found.value(0).toInt();
}

// The tables and indexes of serial numbers: a counter per series (the next
// number, -1 when the series has reached the largest number the records keep,
// and the step of the run that took numbers last), the numbers below it that
// stations gave back unused (handed out first), and at most one passed board
// per number of a series.
void createSerialTables(QSqlDatabase &db, const QString &what, const QString &where)
{
    execute(db, QStringLiteral("CREATE TABLE IF NOT EXISTS serial_counters"
                               " (series VARCHAR(64) NOT NULL PRIMARY KEY, next_serial BIGINT NOT NULL, step BIGINT)"),
            what, where);
    execute(db, QStringLiteral("CREATE TABLE IF NOT EXISTS serial_returned"
                               " (series VARCHAR(64) NOT NULL, serial BIGINT NOT NULL, PRIMARY KEY (series, serial))"),
            what, where);
    execute(db, QStringLiteral("CREATE UNIQUE INDEX IF NOT EXISTS board_records_passed_serial"
                               " ON board_records (series, serial) WHERE result = 'success' AND serial IS NOT NULL"),
            what, where);
    execute(db, QStringLiteral("CREATE INDEX IF NOT EXISTS board_records_serial ON board_records (serial)"),
            what, where);
}

// A board's history is found by its ID.
void createBoardIdIndex(QSqlDatabase &db, const QString &what, const QString &where)
{
    execute(db, QStringLiteral("CREATE INDEX IF NOT EXISTS board_records_board_id ON board_records (board_id)"),
            what, where);
}

// The approved jobs: every version of every name, never changed once
// approved but for its withdrawal (who, when). The image's own bytes are
// kept, with their SHA-256, lines and size, and the settings that belong to
// them: the serial format, the policy, the rule that board IDs match (empty
// for none) and whether a board that passed before may be flashed again.
void createJobsTable(QSqlDatabase &db, const QString &what, const QString &where)
{
    const bool server = db.driverName() == QLatin1String("QPSQL");
    execute(db, QStringLiteral("CREATE TABLE IF NOT EXISTS jobs (name VARCHAR(64) NOT NULL, version INTEGER NOT NULL,"
                               " file_name TEXT NOT NULL, image %1 NOT NULL, image_sha256 TEXT NOT NULL,"
                               " image_lines INTEGER NOT NULL, image_size BIGINT NOT NULL,"
                               " serial_format TEXT NOT NULL, on_error TEXT NOT NULL,"
                               " board_id_rule TEXT NOT NULL DEFAULT '', reflash INTEGER NOT NULL DEFAULT 0,"
                               " approved_by TEXT NOT NULL, approved TEXT NOT NULL,"
                               " withdrawn_by TEXT, withdrawn TEXT, PRIMARY KEY (name, version))")
                    .arg(server ? QLatin1String("BYTEA") : QLatin1String("BLOB")),
            what, where);
}

// The live view of the line (version 5): each station's run and heartbeat,
// each slot's state as its tile shows it, which the stations keep up to date
// and any reader may look at; and the figures of the records as views that
// any reporting tool can read. An hour is that of the board's end, as
// "2026-03-01T08:00:00Z"; a cancelled board is neither passed nor failed,
// as the station counts it.
void createLiveTables(QSqlDatabase &db, const QString &what, const QString &where)
{
    const bool server = db.driverName() == QLatin1String("QPSQL");
    execute(db, QStringLiteral("CREATE TABLE IF NOT EXISTS station_live (station TEXT NOT NULL PRIMARY KEY,"
                               " job_name TEXT, job_version INTEGER, job_file TEXT NOT NULL DEFAULT '',"
                               " slots INTEGER NOT NULL, started TEXT NOT NULL, heartbeat TEXT NOT NULL,"
                               " state TEXT NOT NULL DEFAULT 'running')"),
            what, where);
    execute(db, QStringLiteral("CREATE TABLE IF NOT EXISTS slot_live (station TEXT NOT NULL,"
                               " slot_index INTEGER NOT NULL, slot TEXT NOT NULL, state TEXT NOT NULL,"
                               " text TEXT NOT NULL, percent INTEGER, board_id TEXT NOT NULL DEFAULT '',"
                               " serial BIGINT, changed TEXT NOT NULL, PRIMARY KEY (station, slot_index))"),
            what, where);
    // PostgreSQL has no CREATE VIEW IF NOT EXISTS, SQLite no CREATE OR REPLACE.
    const QString create = server ? QStringLiteral("CREATE OR REPLACE VIEW") : QStringLiteral("CREATE VIEW IF NOT EXISTS");
    execute(db, create + QStringLiteral(
                    " line_hourly AS SELECT substr(coalesce(nullif(ended, ''), started), 1, 13) || ':00:00Z' AS hour,"
                    " station, COUNT(*) AS boards,"
                    " SUM(CASE WHEN result = 'success' THEN 1 ELSE 0 END) AS passed,"
                    " SUM(CASE WHEN result = 'success' THEN 0 ELSE 1 END) AS failed,"
                    " CAST(SUM(CASE WHEN result = 'success' THEN 1 ELSE 0 END) AS DOUBLE PRECISION) / COUNT(*)"
                    " AS first_pass_yield"
                    " FROM board_records WHERE result <> 'cancelled'"
                    " GROUP BY substr(coalesce(nullif(ended, ''), started), 1, 13), station"),
            what, where);
    execute(db, create + QStringLiteral(
                    " line_failures AS SELECT ended, station, slot, board_id, serial, result, message, job_name,"
                    " job_version FROM board_records WHERE result <> 'success' AND result <> 'cancelled'"),
            what, where);
}

// Runs an upgrade's statements in one transaction, so that a failure leaves
// the database at the version it was. Only the database that is still at
// `from` moves: another station may have upgraded it meanwhile, and then
// this transaction fails.
void upgrade(QSqlDatabase &db, int from, const QStringList &statements, bool serialTables, const QString &where)
{
    const QString what = QStringLiteral("Cannot upgrade the records database from schema version %1 to %2:")
                             .arg(from).arg(version);
    // The spool is a station's own table; looked at before the transaction.
    const bool spool = db.tables().contains(QStringLiteral("server_spool"));
    if (!db.transaction())
        fail(what, where, db.lastError());
    try {
        // "%1" stands for the records' table and the spool, which has the
        // same columns.
        for (const QString &statement : statements) {
            if (!statement.contains(QLatin1String("%1"))) {
                execute(db, statement, what, where);
                continue;
            }
            execute(db, statement.arg(QStringLiteral("board_records")), what, where);
            if (spool)
                execute(db, statement.arg(QStringLiteral("server_spool")), what, where);
        }
        if (serialTables)
            createSerialTables(db, what, where);
        createJobsTable(db, what, where);
        createBoardIdIndex(db, what, where);
        createLiveTables(db, what, where);
        execute(db, QStringLiteral("UPDATE quobin_schema SET version = %1 WHERE name = 'records' AND version = %2")
                        .arg(version).arg(from),
                what, where);
        if (!db.commit())
            fail(what, where, db.lastError());
    } catch (const RecordStoreError &error) {
        db.rollback();
        // The message says how: the tables are altered by a user that may.
        throw RecordStoreError(error.reason()
                               + QStringLiteral("; nothing was changed. Start a station once as a user that may"
                                                " alter its tables (such as their owner) to upgrade it in place"));
    }
}

// What version 4 adds to every older one: records name the approved job
// and its version they were flashed from (empty for a run on a file), the
// board's ID and whether it was a re-flash; the jobs table is made.
const QStringList &jobColumns()
{
    static const QStringList statements{QStringLiteral("ALTER TABLE %1 ADD COLUMN job_name TEXT"),
                                        QStringLiteral("ALTER TABLE %1 ADD COLUMN job_version INTEGER"),
                                        QStringLiteral("ALTER TABLE %1 ADD COLUMN board_id TEXT NOT NULL DEFAULT ''"),
                                        QStringLiteral("ALTER TABLE %1 ADD COLUMN reflash INTEGER NOT NULL DEFAULT 0")};
    return statements;
}

// What version 5 adds to every older one: records keep the USB socket the
// adapter was plugged into, beside the adapter's own serial number.
const QStringList &socketColumn()
{
    static const QStringList statements{QStringLiteral("ALTER TABLE %1 ADD COLUMN socket TEXT NOT NULL DEFAULT ''")};
    return statements;
}

// Version 1: records gain their series and serial, and whether the serial
// went out; the serial counters are made.
void upgradeFrom1(QSqlDatabase &db, const QString &where)
{
    upgrade(db, 1,
            QStringList{QStringLiteral("ALTER TABLE %1 ADD COLUMN series TEXT NOT NULL DEFAULT ''"),
                        QStringLiteral("ALTER TABLE %1 ADD COLUMN serial BIGINT"),
                        QStringLiteral("ALTER TABLE %1 ADD COLUMN serial_sent INTEGER")}
                + jobColumns() + socketColumn(),
            true, where);
}

// Version 2: records gain whether the serial went out, and the counters the
// step of their series. The records of version 2 keep theirs empty: unknown.
void upgradeFrom2(QSqlDatabase &db, const QString &where)
{
    upgrade(db, 2,
            QStringList{QStringLiteral("ALTER TABLE %1 ADD COLUMN serial_sent INTEGER"),
                        QStringLiteral("ALTER TABLE serial_counters ADD COLUMN step BIGINT")}
                + jobColumns() + socketColumn(),
            false, where);
}

// Version 3: records gain their job; the jobs table is made.
void upgradeFrom3(QSqlDatabase &db, const QString &where)
{
    upgrade(db, 3, jobColumns() + socketColumn(), false, where);
}

// Version 4: records gain their socket; the live view's tables and the
// records' views are made.
void upgradeFrom4(QSqlDatabase &db, const QString &where)
{
    upgrade(db, 4, socketColumn(), false, where);
}

void ensureOnce(QSqlDatabase &db, const QString &where, bool withSpool)
{
    const QString what = QStringLiteral("Cannot set up the records database");
    const int found = versionOf(db);
    if (found > version)
        throw NewerSchemaError(QStringLiteral("The records database %1 has schema version %2, newer than "
                                              "this Quobin knows (%3): use a newer Quobin")
                                   .arg(where).arg(found).arg(version));
    if (found == 1)
        upgradeFrom1(db, where);
    if (found == 2)
        upgradeFrom2(db, where);
    if (found == 3)
        upgradeFrom3(db, where);
    if (found == 4)
        upgradeFrom4(db, where);
    // A server's tables may have been made by an administrator, for users
    // that may insert and select but not create: a complete schema is left
    // as it is.
    if (found == 0) {
        execute(db, QStringLiteral("CREATE TABLE IF NOT EXISTS quobin_schema"
                                   " (name VARCHAR(32) NOT NULL PRIMARY KEY, version INTEGER NOT NULL)"),
                what, where);
        execute(db, QStringLiteral("CREATE TABLE IF NOT EXISTS board_records (%1, PRIMARY KEY (id))")
                        .arg(QLatin1String(kRecordColumnDefinitions)),
                what, where);
        execute(db, QStringLiteral("CREATE INDEX IF NOT EXISTS board_records_started ON board_records (started)"),
                what, where);
        createSerialTables(db, what, where);
        createJobsTable(db, what, where);
        createBoardIdIndex(db, what, where);
        createLiveTables(db, what, where);
        execute(db, QStringLiteral("INSERT INTO quobin_schema (name, version) VALUES ('records', %1)"
                                   " ON CONFLICT (name) DO NOTHING").arg(version),
                what, where);
    }
    if (withSpool)
        execute(db, QStringLiteral("CREATE TABLE IF NOT EXISTS server_spool (sequence INTEGER PRIMARY KEY"
                                   " AUTOINCREMENT, server TEXT NOT NULL, %1)")
                        .arg(QLatin1String(kRecordColumnDefinitions)),
                what, where);
}

} // namespace

void quietServer(QSqlDatabase &db)
{
    QSqlQuery(db).exec(QStringLiteral("SET client_min_messages TO WARNING"));
}

QSqlDatabase &openServer(QSqlDatabase &db, const QString &where)
{
    if (db.isOpen())
        return db;
    if (!db.open())
        throw RecordStoreError(QStringLiteral("Cannot reach the records server %1: %2").arg(where, reasonOf(db.lastError())));
    try {
        quietServer(db);
        ensure(db, where, false);
    } catch (const RecordStoreError &) {
        db.close();
        throw;
    }
    return db;
}

int requireRecords(QSqlDatabase &db, const QString &where)
{
    const int found = versionOf(db);
    if (found == 0) {
        // The first read of the file: what is no database fails here.
        QSqlQuery probe(db);
        if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")))
            throw RecordStoreError(QStringLiteral("%1 is not a records database: %2")
                                       .arg(where, reasonOf(probe.lastError())));
        throw RecordStoreError(QStringLiteral("%1 is not a Quobin records database: it has no Quobin records"
                                              " table, and is left as it is")
                                   .arg(where));
    }
    if (found > version)
        throw NewerSchemaError(QStringLiteral("The records database %1 has schema version %2, newer than "
                                              "this Quobin knows (%3): use a newer Quobin")
                                   .arg(where).arg(found).arg(version));
    return found;
}

int readable(QSqlDatabase &db, const QString &where)
{
    const int found = versionOf(db);
    if (found > version)
        throw NewerSchemaError(QStringLiteral("The records database %1 has schema version %2, newer than "
                                              "this Quobin knows (%3): use a newer Quobin")
                                   .arg(where).arg(found).arg(version));
    if (found > 0)
        return found;
    ensure(db, where, false);
    return version;
}

QMap<QString, SeriesState> seriesStates(QSqlDatabase &db, const QString &where, int schemaVersion)
{
    QMap<QString, SeriesState> states;
    if (schemaVersion < 2)
        return states;
    if (schemaVersion >= 3) {
        QSqlQuery steps = prepared(db, QStringLiteral("SELECT series, step FROM serial_counters"), where);
        steps.setForwardOnly(true);
        execute(steps, QStringLiteral("Cannot read the serial counters of"), where);
        while (steps.next()) {
            const qint64 step = steps.value(1).toLongLong();
            if (!steps.value(1).isNull() && step > 0)
                states[steps.value(0).toString()].step = quint64(step);
        }
    }
    QSqlQuery returned = prepared(db, QStringLiteral("SELECT series, serial FROM serial_returned ORDER BY series, serial"),
                                  where);
    returned.setForwardOnly(true);
    execute(returned, QStringLiteral("Cannot read the serial numbers given back in"), where);
    while (returned.next())
        states[returned.value(0).toString()].returned.insert(quint64(returned.value(1).toLongLong()));
    return states;
}

namespace {

// While a server's schema is made or upgraded, the connections that would
// do the same (other stations, a station's own links) wait their turn, and
// then find it done: one session lock of the server's, for the records'
// schema alone. Without the lock (refused, or timed out) the tries below
// still sort out a collision.
class SchemaTurn {
public:
    explicit SchemaTurn(QSqlDatabase &db) : m_db(db)
    {
        m_held = QSqlQuery(m_db).exec(QStringLiteral("SELECT pg_advisory_lock(%1)").arg(kKey));
    }
    ~SchemaTurn()
    {
        if (m_held)
            QSqlQuery(m_db).exec(QStringLiteral("SELECT pg_advisory_unlock(%1)").arg(kKey));
    }
    SchemaTurn(const SchemaTurn &) = delete;
    SchemaTurn &operator=(const SchemaTurn &) = delete;

private:
    static constexpr qint64 kKey = 0x51756f62696e; // "Quobin"
    QSqlDatabase &m_db;
    bool m_held = false;
};

} // namespace

void ensure(QSqlDatabase &db, const QString &where, bool withSpool)
{
    std::optional<SchemaTurn> turn;
    if (db.driverName() == QLatin1String("QPSQL") && versionOf(db) != version)
        turn.emplace(db);
    // Two stations that set up a new server database at once may collide
    // while creating the same table; the second try finds it made.
    for (int attempt = 1;; ++attempt) {
        try {
            ensureOnce(db, where, withSpool);
            return;
        } catch (const NewerSchemaError &) {
            throw;
        } catch (const RecordStoreError &) {
            if (attempt == 3)
                throw;
        }
    }
}

void insert(QSqlDatabase &db, const BoardRecord &record, const QString &where)
{
    QSqlQuery query = prepared(db, QStringLiteral("INSERT INTO board_records (%1) VALUES (%2)"
                                                  " ON CONFLICT (id) DO NOTHING")
                                       .arg(QLatin1String(kRecordColumns), placeholders(kRecordColumnCount)),
                               where);
    bindRecord(query, record);
    execute(query, QStringLiteral("Cannot write the record into"), where);
}

QList<BoardRecord> select(QSqlDatabase &db, const QDateTime &since, const QString &where, int schemaVersion)
{
    const char *columns = recordColumns(schemaVersion);
    QString sql = QStringLiteral("SELECT %1 FROM board_records").arg(QLatin1String(columns));
    if (since.isValid())
        sql += QStringLiteral(" WHERE started >= ?");
    sql += QStringLiteral(" ORDER BY started, ended, id");
    QSqlQuery query = prepared(db, sql, where);
    query.setForwardOnly(true);
    if (since.isValid())
        query.addBindValue(timeText(since));
    execute(query, QStringLiteral("Cannot read the records from"), where);
    QList<BoardRecord> records;
    while (query.next())
        records.append(recordAt(query, 0));
    return records;
}

namespace {

// The filter as a WHERE clause whose values are bound in order.
struct FilterClause {
    QString sql;
    QStringList values;
};

FilterClause clauseOf(const RecordFilter &filter)
{
    QStringList conditions;
    FilterClause clause;
    switch (filter.results) {
    case RecordFilter::Results::All:
        break;
    case RecordFilter::Results::Passed:
        conditions << QStringLiteral("result = ?");
        clause.values << QStringLiteral("success");
        break;
    case RecordFilter::Results::Failed:
        conditions << QStringLiteral("result <> ?");
        clause.values << QStringLiteral("success");
        break;
    case RecordFilter::Results::Named:
        conditions << QStringLiteral("result = ?");
        clause.values << filter.result;
        break;
    }
    if (!filter.slot.isEmpty()) {
        conditions << QStringLiteral("slot = ?");
        clause.values << filter.slot;
    }
    if (!filter.boardId.isEmpty()) {
        conditions << QStringLiteral("board_id = ?");
        clause.values << filter.boardId;
    }
    if (!conditions.isEmpty())
        clause.sql = QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
    return clause;
}

QList<BoardRecord> selectWith(QSqlDatabase &db, const RecordFilter &filter, const QString &order, const QString &tail,
                              const QString &where)
{
    const FilterClause clause = clauseOf(filter);
    QSqlQuery query = prepared(db, QStringLiteral("SELECT %1 FROM board_records%2 ORDER BY %3%4")
                                       .arg(QLatin1String(kRecordColumns), clause.sql, order, tail),
                               where);
    query.setForwardOnly(true);
    for (const QString &value : clause.values)
        query.addBindValue(value);
    execute(query, QStringLiteral("Cannot read the records from"), where);
    QList<BoardRecord> records;
    while (query.next())
        records.append(recordAt(query, 0));
    return records;
}

QStringList distinct(QSqlDatabase &db, const QString &column, const QString &where)
{
    QSqlQuery query = prepared(db, QStringLiteral("SELECT DISTINCT %1 FROM board_records ORDER BY %1").arg(column), where);
    query.setForwardOnly(true);
    execute(query, QStringLiteral("Cannot read the records from"), where);
    QStringList values;
    while (query.next())
        values << query.value(0).toString();
    return values;
}

} // namespace

QList<BoardRecord> selectPage(QSqlDatabase &db, const RecordFilter &filter, int offset, int limit,
                              const QString &where)
{
    // Whole numbers of the program's own, written into the statement.
    return selectWith(db, filter, QStringLiteral("started DESC, ended DESC, id DESC"),
                      QStringLiteral(" LIMIT %1 OFFSET %2").arg(qMax(0, limit)).arg(qMax(0, offset)), where);
}

QList<BoardRecord> selectMatching(QSqlDatabase &db, const RecordFilter &filter, const QString &where)
{
    return selectWith(db, filter, QStringLiteral("started, ended, id"), QString(), where);
}

int countMatching(QSqlDatabase &db, const RecordFilter &filter, const QString &where)
{
    const FilterClause clause = clauseOf(filter);
    QSqlQuery query = prepared(db, QStringLiteral("SELECT COUNT(*) FROM board_records") + clause.sql, where);
    for (const QString &value : clause.values)
        query.addBindValue(value);
    execute(query, QStringLiteral("Cannot read the records from"), where);
    return query.next() ? query.value(0).toInt() : 0;
}

QStringList distinctSlots(QSqlDatabase &db, const QString &where)
{
    return distinct(db, QStringLiteral("slot"), where);
}

QStringList distinctResults(QSqlDatabase &db, const QString &where)
{
    return distinct(db, QStringLiteral("result"), where);
}

void spool(QSqlDatabase &db, const QString &server, const BoardRecord &record, const QString &where)
{
    QSqlQuery query = prepared(db, QStringLiteral("INSERT INTO server_spool (server, %1) VALUES (?, %2)")
                                       .arg(QLatin1String(kRecordColumns), placeholders(kRecordColumnCount)),
                               where);
    query.addBindValue(server);
    bindRecord(query, record);
    execute(query, QStringLiteral("Cannot keep the record in the local spool"), where);
}

QList<Spooled> spooled(QSqlDatabase &db, const QString &server, int limit, const QString &where)
{
    QSqlQuery query = prepared(db, QStringLiteral("SELECT sequence, %1 FROM server_spool WHERE server = ?"
                                                  " ORDER BY sequence LIMIT %2")
                                       .arg(QLatin1String(kRecordColumns)).arg(limit),
                               where);
    query.setForwardOnly(true);
    query.addBindValue(server);
    execute(query, QStringLiteral("Cannot read the local spool"), where);
    QList<Spooled> records;
    while (query.next())
        records.append({query.value(0).toLongLong(), recordAt(query, 1)});
    return records;
}

void unspoolThrough(QSqlDatabase &db, const QString &server, qint64 sequence, const QString &where)
{
    QSqlQuery query = prepared(db, QStringLiteral("DELETE FROM server_spool WHERE server = ? AND sequence <= ?"), where);
    query.addBindValue(server);
    query.addBindValue(sequence);
    execute(query, QStringLiteral("Cannot clear sent records from the local spool"), where);
}

int spooledCount(QSqlDatabase &db, const QString &server, const QString &where)
{
    QSqlQuery query = prepared(db, QStringLiteral("SELECT COUNT(*) FROM server_spool WHERE server = ?"), where);
    query.addBindValue(server);
    execute(query, QStringLiteral("Cannot read the local spool"), where);
    return query.next() ? query.value(0).toInt() : 0;
}

QList<SpoolWaiting> spools(QSqlDatabase &db, const QString &where)
{
    QList<SpoolWaiting> found;
    if (!db.tables().contains(QStringLiteral("server_spool")))
        return found;
    QSqlQuery query = prepared(db, QStringLiteral("SELECT server, COUNT(*) FROM server_spool GROUP BY server ORDER BY server"),
                               where);
    execute(query, QStringLiteral("Cannot read the local spool"), where);
    while (query.next())
        found.append({query.value(0).toString(), query.value(1).toInt()});
    return found;
}

QString reasonOf(const QSqlError &error)
{
    QString reason = error.databaseText().simplified();
    if (reason.isEmpty())
        reason = error.driverText().simplified();
    return reason.isEmpty() ? QStringLiteral("the database gave no reason") : reason;
}

QString timeText(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QStringLiteral("");
}

} // namespace quobin::records::schema
