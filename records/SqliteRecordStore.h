#pragma once

#include "RecordStore.h"
#include "WorkerThread.h"

#include <memory>

namespace quobin::records {

class SqliteConnection;

// Records in a SQLite file. Its one connection lives on a thread of its
// own, which runs the callers' commits and reads one after the other.
class SqliteRecordStore : public RecordStore {
public:
    // Opens the file, creating it and its tables when missing; throws
    // RecordStoreError when it cannot be used.
    explicit SqliteRecordStore(const QString &path);
    ~SqliteRecordStore() override;

    void commit(const BoardRecord &record) override;
    QList<BoardRecord> read(const QDateTime &since = {}) override;
    QString describe() const override { return m_path; }

private:
    QString m_path;
    WorkerThread m_worker;
    std::unique_ptr<SqliteConnection> m_connection; // used on m_worker only
};

} // namespace quobin::records
