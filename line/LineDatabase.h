#pragma once

#include "ServerTarget.h"

#include <QSqlDatabase>
#include <QString>

#include <optional>

namespace quobin::line {

// The records database that the page reads, opened for reading only and
// kept open: a PostgreSQL server (every transaction read-only, each
// statement bounded by the server) or a SQLite file (opened read-only; it
// is neither made nor changed). Opening again after a lost server is the
// caller's to ask for.
class LineDatabase {
public:
    // Throws records::RecordStoreError when target names a server in a URL
    // that does not parse.
    explicit LineDatabase(const QString &target);
    ~LineDatabase();
    LineDatabase(const LineDatabase &) = delete;
    LineDatabase &operator=(const LineDatabase &) = delete;

    bool isServer() const { return m_server.has_value(); }
    // Where the records are, for the operator: a file, or the server's URL
    // without its password.
    QString describe() const;

    // Opens the connection when it is closed; false with problem() when it
    // cannot.
    bool open();
    void close();
    bool isOpen() const;
    QSqlDatabase &database() { return m_database; }
    // Why the last open or read failed, for the operator.
    QString problem() const { return m_problem; }
    void setProblem(const QString &problem) { m_problem = problem; }

    // SQLite's count of changes by other connections (PRAGMA data_version):
    // it moves when a station commits. Empty when it cannot be read.
    std::optional<qint64> dataVersion();

private:
    std::optional<records::ServerTarget> m_server;
    QString m_file;
    QString m_connectionName;
    QSqlDatabase m_database;
    QString m_problem;
};

} // namespace quobin::line
