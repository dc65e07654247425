#pragma once

#include "LiveSink.h"
#include "ServerTarget.h"
#include "WorkerThread.h"

#include <QProcessEnvironment>
#include <QSqlDatabase>
#include <QString>

#include <memory>
#include <optional>

namespace quobin::records {

class SqliteConnection;

// The live view in the records database, on a connection of its own, on a
// thread of its own. Each write connects when the connection is not open,
// every wait bounded (the connection, a statement, a lock), and drops the
// connection when the database fails, so that the next write tries afresh.
// On PostgreSQL every write notifies channel quobin_line with the station's
// name, in the same transaction.
class LiveWriter : public LiveSink {
public:
    // The database a --records TARGET names, as the records go: empty for
    // the default SQLite file, a path, or a server. Connects at the first
    // write. Throws RecordStoreError when the URL does not parse.
    static std::unique_ptr<LiveWriter> forTarget(const QString &target,
                                                 const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment());

    explicit LiveWriter(const ServerTarget &server);
    explicit LiveWriter(const QString &sqliteFile);
    ~LiveWriter() override;

    void write(const LiveSnapshot &snapshot) override;
    QString describe() const override { return m_key; }

private:
    // On the worker: the open connection, or RecordStoreError.
    QSqlDatabase &open();
    void close();

    const std::optional<ServerTarget> m_server;
    const QString m_file;
    const QString m_key;
    WorkerThread m_worker;
    // Used on m_worker only.
    QString m_connectionName;
    QSqlDatabase m_database;
    std::unique_ptr<SqliteConnection> m_sqlite;
};

} // namespace quobin::records
