#pragma once

#include "RecordStore.h"
#include "ServerLink.h"
#include "ServerTarget.h"
#include "WorkerThread.h"

#include <memory>

namespace quobin::records {

class SqliteConnection;

// Records on a PostgreSQL server, which a line of stations shares. Every
// record goes first into a local SQLite spool (durable at once), then to the
// server; it leaves the spool only when the server has stored it. While the
// server answers, commit returns once the record is there (waiting a few
// seconds at most); while it is away, commit returns at once and the records
// wait in the spool, to be sent in order when it is back, or at the next
// start.
class ServerRecordStore : public RecordStore {
public:
    // Throws RecordStoreError when the spool cannot be used or the server
    // refuses the records; a server that cannot be reached is no error.
    ServerRecordStore(const ServerTarget &server, const QString &spoolPath);
    ~ServerRecordStore() override;

    void commit(const BoardRecord &record) override;
    // The server's records and the spooled ones; throws when the server
    // cannot be reached.
    QList<BoardRecord> read(const QDateTime &since = {}) override;
    // The server's records that match, in SQL, and the spooled ones that
    // match; throws when the server cannot be reached.
    QList<BoardRecord> matching(const RecordFilter &filter) override;
    QMap<QString, SeriesState> seriesStates() override;
    int waitingForServer() const override;
    QString serverProblem() const override { return m_link->problem(); }
    QString localFile() const override { return m_spoolPath; }
    QString describe() const override { return m_server.describe(); }
    QList<SpoolWaiting> spoolsForOtherServers() const override;

private:
    // work(db, schemaVersion) on a connection of its own to the server.
    template<typename Result, typename Work>
    Result onReadConnection(Work &&work);

    const ServerTarget m_server;
    const QString m_key;
    const QString m_spoolPath;
    mutable WorkerThread m_worker;
    std::unique_ptr<SqliteConnection> m_spool; // used on m_worker only
    std::unique_ptr<ServerLink> m_link;
};

} // namespace quobin::records
