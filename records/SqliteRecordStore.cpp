#include "SqliteRecordStore.h"

#include "RecordSchema.h"
#include "SqliteConnection.h"

#include <QSqlDatabase>
#include <QSqlQuery>

namespace quobin::records {

SqliteRecordStore::SqliteRecordStore(const QString &path)
    : m_path(path)
{
    m_worker.run([this] { m_connection = std::make_unique<SqliteConnection>(m_path, false); });
}

SqliteRecordStore::~SqliteRecordStore()
{
    m_worker.run([this] { m_connection.reset(); });
}

void SqliteRecordStore::commit(const BoardRecord &record)
{
    std::future<void> written;
    {
        std::lock_guard lock(m_pendingMutex);
        m_pending.push_back({record, {}});
        written = m_pending.back().written.get_future();
    }
    // This call, or one queued before it, writes the record.
    m_worker.run([this] { writePending(); });
    written.get();
}

void SqliteRecordStore::writePending()
{
    std::vector<Pending> batch;
    {
        std::lock_guard lock(m_pendingMutex);
        batch.swap(m_pending);
    }
    if (batch.empty())
        return;
    QSqlDatabase &db = m_connection->database();
    // IMMEDIATE takes the write lock at once, waiting for another process
    // with the busy timeout, rather than failing on its first insert.
    if (batch.size() > 1 && QSqlQuery(db).exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        try {
            for (const Pending &pending : batch)
                schema::insert(db, pending.record, m_path);
            if (QSqlQuery(db).exec(QStringLiteral("COMMIT"))) {
                for (Pending &pending : batch)
                    pending.written.set_value();
                return;
            }
        } catch (const RecordStoreError &) {
        }
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
    }
    // One at a time, so that each caller learns its own record's fate.
    for (Pending &pending : batch) {
        try {
            schema::insert(db, pending.record, m_path);
            pending.written.set_value();
        } catch (...) {
            pending.written.set_exception(std::current_exception());
        }
    }
}

QList<SpoolWaiting> SqliteRecordStore::spoolsForOtherServers() const
{
    return m_worker.run([&] { return schema::spools(m_connection->database(), m_path); });
}

QList<BoardRecord> SqliteRecordStore::read(const QDateTime &since)
{
    return m_worker.run([&] { return schema::select(m_connection->database(), since, m_path); });
}

QList<BoardRecord> SqliteRecordStore::newestPage(const RecordFilter &filter, int offset, int limit)
{
    return m_worker.run([&] { return schema::selectPage(m_connection->database(), filter, offset, limit, m_path); });
}

int SqliteRecordStore::countMatching(const RecordFilter &filter)
{
    return m_worker.run([&] { return schema::countMatching(m_connection->database(), filter, m_path); });
}

QList<BoardRecord> SqliteRecordStore::matching(const RecordFilter &filter)
{
    return m_worker.run([&] { return schema::selectMatching(m_connection->database(), filter, m_path); });
}

QStringList SqliteRecordStore::slotNames()
{
    return m_worker.run([&] { return schema::distinctSlots(m_connection->database(), m_path); });
}

QStringList SqliteRecordStore::resultNames()
{
    return m_worker.run([&] { return schema::distinctResults(m_connection->database(), m_path); });
}

} // namespace quobin::records
