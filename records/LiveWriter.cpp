#include "LiveWriter.h"

#include "RecordSchema.h"
#include "RecordStore.h"
#include "RecordStores.h"
#include "SqliteConnection.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace quobin::records {

namespace {

// As the records' own link: a server that is away is known within seconds.
const char kConnectOptions[] =
    "connect_timeout=3;tcp_user_timeout=5000;keepalives_idle=5;keepalives_interval=2;"
    "keepalives_count=2;application_name=quobin-live";
// The live view is worth less than a record: a locked or hung server gives
// up on it sooner.
const char kServerOptions[] = "-c statement_timeout=2000 -c lock_timeout=1000";
// A records file whose writer holds the lock: the live view waits for it a
// little, and else tries again at its next write.
const char kSqliteBusyMsecs[] = "1000";

[[noreturn]] void fail(const QString &where, const QSqlError &error)
{
    throw RecordStoreError(QStringLiteral("Cannot write the live view into %1: %2").arg(where, schema::reasonOf(error)));
}

void run(QSqlQuery &query, const QString &where)
{
    if (!query.exec())
        fail(where, query.lastError());
}

QSqlQuery prepared(QSqlDatabase &db, const char *sql, const QString &where)
{
    QSqlQuery query(db);
    if (!query.prepare(QLatin1String(sql)))
        fail(where, query.lastError());
    return query;
}

QVariant nullable(const std::optional<int> &value)
{
    return value ? QVariant(*value) : QVariant(QMetaType(QMetaType::Int));
}

QVariant nullable(const std::optional<quint64> &value)
{
    return value ? QVariant(qint64(*value)) : QVariant(QMetaType(QMetaType::LongLong));
}

// A null QString would be bound as SQL NULL.
QString text(const QString &value)
{
    return value.isNull() ? QStringLiteral("") : value;
}

void writeRows(QSqlDatabase &db, const LiveSnapshot &snapshot, bool notify, const QString &where)
{
    const LiveStation &s = snapshot.station;
    QSqlQuery station = prepared(db,
        "INSERT INTO station_live (station, job_name, job_version, job_file, slots, started, heartbeat, state)"
        " VALUES (?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (station) DO UPDATE SET job_name = excluded.job_name,"
        " job_version = excluded.job_version, job_file = excluded.job_file, slots = excluded.slots,"
        " started = excluded.started, heartbeat = excluded.heartbeat, state = excluded.state",
        where);
    for (const QVariant &value : {QVariant(s.station),
                                  s.jobName.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(s.jobName),
                                  nullable(s.jobVersion), QVariant(text(s.jobFile)), QVariant(s.slotCount),
                                  QVariant(schema::timeText(s.started)), QVariant(schema::timeText(s.heartbeat)),
                                  QVariant(s.stopped ? QStringLiteral("stopped") : QStringLiteral("running"))})
        station.addBindValue(value);
    run(station, where);

    // A run with fewer slots than the last one leaves no slots behind.
    QSqlQuery gone = prepared(db, "DELETE FROM slot_live WHERE station = ? AND slot_index >= ?", where);
    gone.addBindValue(s.station);
    gone.addBindValue(s.slotCount);
    run(gone, where);

    QSqlQuery slot = prepared(db,
        "INSERT INTO slot_live (station, slot_index, slot, state, text, percent, board_id, serial, changed)"
        " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (station, slot_index) DO UPDATE SET slot = excluded.slot,"
        " state = excluded.state, text = excluded.text, percent = excluded.percent, board_id = excluded.board_id,"
        " serial = excluded.serial, changed = excluded.changed",
        where);
    for (const LiveSlot &row : snapshot.slotRows) {
        for (const QVariant &value : {QVariant(s.station), QVariant(row.index), QVariant(text(row.slot)),
                                      QVariant(text(row.state)), QVariant(text(row.text)), nullable(row.percent),
                                      QVariant(text(row.boardId)), nullable(row.serial),
                                      QVariant(schema::timeText(row.changed))})
            slot.addBindValue(value);
        run(slot, where);
    }

    if (notify) {
        // Delivered when the transaction commits, with the rows it wrote.
        QSqlQuery notice = prepared(db, "SELECT pg_notify('quobin_line', ?)", where);
        notice.addBindValue(s.station);
        run(notice, where);
    }
}

} // namespace

std::unique_ptr<LiveWriter> LiveWriter::forTarget(const QString &target, const QProcessEnvironment &env)
{
    if (target.isEmpty())
        return std::make_unique<LiveWriter>(defaultRecordsFile(env));
    if (ServerTarget::looksLikeServer(target))
        return std::make_unique<LiveWriter>(ServerTarget::parse(target));
    return std::make_unique<LiveWriter>(QFileInfo(target).absoluteFilePath());
}

LiveWriter::LiveWriter(const ServerTarget &server)
    : m_server(server), m_key(server.describe())
{
    m_worker.run([this] {
        m_connectionName = uniqueConnectionName("live");
        m_database = m_server->addConnection(m_connectionName, QLatin1String(kConnectOptions),
                                             QLatin1String(kServerOptions));
    });
}

LiveWriter::LiveWriter(const QString &sqliteFile)
    : m_file(sqliteFile), m_key(sqliteFile)
{
}

LiveWriter::~LiveWriter()
{
    m_worker.run([this] {
        close();
        if (!m_connectionName.isEmpty()) {
            m_database = QSqlDatabase();
            QSqlDatabase::removeDatabase(m_connectionName);
        }
    });
}

void LiveWriter::close()
{
    if (m_server)
        m_database.close();
    else
        m_sqlite.reset();
}

QSqlDatabase &LiveWriter::open()
{
    if (!m_server) {
        if (!m_sqlite) {
            m_sqlite = std::make_unique<SqliteConnection>(m_file, false);
            QSqlQuery pragma(m_sqlite->database());
            // A lost last write of the live view is harmless: no sync of its
            // own; and the records' writer is waited for only briefly.
            pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
            pragma.exec(QStringLiteral("PRAGMA busy_timeout=") + QLatin1String(kSqliteBusyMsecs));
            // Written a few times a second, the live view would grow the
            // write-ahead log by megabytes before SQLite's own checkpoint,
            // taking the room the records need: it checkpoints after a few
            // of its writes, and keeps the log small.
            pragma.exec(QStringLiteral("PRAGMA wal_autocheckpoint=16"));
            pragma.exec(QStringLiteral("PRAGMA journal_size_limit=65536"));
            pragma.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        }
        return m_sqlite->database();
    }
    return schema::openServer(m_database, m_key);
}

void LiveWriter::write(const LiveSnapshot &snapshot)
{
    m_worker.run([&] {
        try {
            QSqlDatabase &db = open();
            if (!db.transaction())
                fail(m_key, db.lastError());
            try {
                writeRows(db, snapshot, m_server.has_value(), m_key);
                if (!db.commit())
                    fail(m_key, db.lastError());
            } catch (const RecordStoreError &) {
                db.rollback();
                throw;
            }
        } catch (const RecordStoreError &) {
            // A database that went away leaves a connection that only
            // fails: the next write connects afresh.
            close();
            throw;
        }
    });
}

} // namespace quobin::records
