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
    // The URL without the password, for the operator.
    QString describe() const;
    // What the local spool keys this server's records by: the user, the
    // host as libpq is given it (no name is resolved: localhost and
    // 127.0.0.1 are two hosts to libpq, which may reach them differently and
    // which the server's pg_hba.conf may treat differently), the port
    // always written, the socket folder cleaned, and the database. Neither
    // the password nor a connection option is part of it: a changed password
    // or TLS setting sends the same spool to the same database.
    QString spoolKey() const;
};

} // namespace quobin::records
