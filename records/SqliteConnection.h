#pragma once

#include <QSqlDatabase>
#include <QString>

namespace quobin::records {

// An open connection to a records file in SQLite, on the thread that made
// it: write-ahead log, full sync (a committed record survives a killed
// process or a power cut), a busy timeout for the other processes on the same
// file, and the schema in place. Throws RecordStoreError with the reason when
// the file cannot be used.
class SqliteConnection {
public:
    SqliteConnection(const QString &path, bool withSpool);
    ~SqliteConnection();
    SqliteConnection(const SqliteConnection &) = delete;
    SqliteConnection &operator=(const SqliteConnection &) = delete;

    QSqlDatabase &database() { return m_database; }

private:
    void close();

    QString m_name;
    QSqlDatabase m_database;
};

// A new connection name, unique in the process.
QString uniqueConnectionName(const char *kind);

} // namespace quobin::records
