#pragma once

#include "ApprovedJob.h"
#include "ServerTarget.h"
#include "WorkerThread.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>

#include <memory>
#include <optional>

namespace quobin::records {

class SqliteConnection;

// The approved jobs of a records database: a station's SQLite file or a
// line's PostgreSQL database. Its connection lives on a thread of its own;
// every method may be called from any thread, from several at once. Who
// approves or withdraws is the database's user on PostgreSQL
// (current_user), whose rights decide; on SQLite it is the operating
// system's user, and the file's permissions decide. Every method throws
// RecordStoreError when the database cannot be reached or refuses.
class JobStore {
public:
    // A SQLite file, made with its tables when missing.
    static std::unique_ptr<JobStore> onFile(const QString &path);
    // A server, connected at the first call.
    static std::unique_ptr<JobStore> onServer(const ServerTarget &server);
    ~JobStore();
    JobStore(const JobStore &) = delete;
    JobStore &operator=(const JobStore &) = delete;

    // job as the next version of its name (image, sha256, lines, size,
    // settings filled in); returns it with its version and approval.
    ApprovedJob approve(const ApprovedJob &job);
    QList<ApprovedJob> current();
    QList<ApprovedJob> versions(const QString &name);
    std::optional<ApprovedJob> currentOf(const QString &name, bool withImage);
    ApprovedJob withdraw(const QString &name);
    // Who approves and withdraws through this store.
    QString user();
    QString describe() const { return m_where; }

private:
    explicit JobStore(QString where);
    QSqlDatabase &open();
    template<typename Work>
    auto onDatabase(Work &&work);

    const QString m_where;
    std::optional<ServerTarget> m_server;
    QString m_path;
    mutable WorkerThread m_worker;
    // Used on m_worker only.
    std::unique_ptr<SqliteConnection> m_file;
    QString m_connectionName;
    QSqlDatabase m_database;
};

} // namespace quobin::records
