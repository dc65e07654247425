#include "SqliteRecordStore.h"

#include "RecordSchema.h"
#include "SqliteConnection.h"

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
    m_worker.run([&] { schema::insert(m_connection->database(), record, m_path); });
}

QList<BoardRecord> SqliteRecordStore::read(const QDateTime &since)
{
    return m_worker.run([&] { return schema::select(m_connection->database(), since, m_path); });
}

} // namespace quobin::records
