#pragma once

#include "RecordStore.h"
#include "WorkerThread.h"

#include <future>
#include <memory>
#include <mutex>
#include <vector>

namespace quobin::records {

class SqliteConnection;

// Records in a SQLite file. Its one connection lives on a thread of its
// own, which runs the callers' commits and reads one after the other.
// Commits that arrive together (slots that finish at the same moment) are
// written in one transaction: one sync of the log for all of them, instead
// of one each in a queue.
class SqliteRecordStore : public RecordStore {
public:
    // Opens the file, creating it and its tables when missing; throws
    // RecordStoreError when it cannot be used.
    explicit SqliteRecordStore(const QString &path);
    ~SqliteRecordStore() override;

    void commit(const BoardRecord &record) override;
    QList<BoardRecord> read(const QDateTime &since = {}) override;
    QList<BoardRecord> newestPage(const RecordFilter &filter, int offset, int limit) override;
    int countMatching(const RecordFilter &filter) override;
    QList<BoardRecord> matching(const RecordFilter &filter) override;
    QStringList slotNames() override;
    QStringList resultNames() override;
    QString localFile() const override { return m_path; }
    QString describe() const override { return m_path; }
    // Every spool in the file, when it is also the spool of server runs.
    QList<SpoolWaiting> spoolsForOtherServers() const override;

private:
    struct Pending {
        BoardRecord record;
        std::promise<void> written;
    };
    // On the worker: writes every record waiting, then tells each caller.
    void writePending();

    QString m_path;
    std::mutex m_pendingMutex;
    std::vector<Pending> m_pending;
    mutable WorkerThread m_worker;
    std::unique_ptr<SqliteConnection> m_connection; // used on m_worker only
};

} // namespace quobin::records
