#pragma once

#include <QString>

namespace quobin::records {

// A PostgreSQL server named as
//   postgresql://[user[:password]@]host[:port]/database
//   postgresql://[user[:password]@]/database?host=/socket/folder[&port=N]
// (postgres:// too). Percent-escapes are decoded.
struct ServerTarget {
    QString user;
    QString password;
    QString host;       // a host name or address, or the folder of a Unix socket
    int port = 5432;
    QString database;

    static bool looksLikeServer(const QString &target);
    // Throws RecordStoreError naming what is wrong with the URL.
    static ServerTarget parse(const QString &url);
    // The URL without the password: the spool keys its records by it.
    QString describe() const;
};

} // namespace quobin::records
