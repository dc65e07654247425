#pragma once

#include <QList>
#include <QPair>
#include <QSqlDatabase>
#include <QString>

#include <utility>

namespace quobin::records {

// A PostgreSQL server named as
//   postgresql://[user[:password]@]host[:port]/database
//   postgresql://[user[:password]@]/database?host=/socket/folder[&port=N]
//   postgresql://[user@]/?service=name   (host, port and database from
//                                         ~/.pg_service.conf)
// (postgres:// too). Percent-escapes are decoded. libpq's own connection
// parameters may follow as ?key=value&...: TLS (sslmode, sslrootcert, sslcert,
// sslkey, sslcrl), connect_timeout, application_name, options,
// target_session_attrs, passfile, service and a few more. A value may be
// written as it stands, a Windows path with its backslashes and spaces
// included. A password is best left out of the URL: libpq finds it in
// ~/.pgpass (or the passfile, or PGPASSWORD) when the URL has none. On
// Windows libpq's files are %APPDATA%\postgresql\pgpass.conf and
// %APPDATA%\postgresql\.pg_service.conf; libpq finds them itself.
struct ServerTarget {
    QString user;
    QString password;
    QString host;       // a host name or address, or the folder of a Unix socket
    int port = 5432;    // -1: the service's or libpq's own
    QString database;
    // libpq parameters in the order given, handed to the driver as they are.
    QList<QPair<QString, QString>> parameters;

    static bool looksLikeServer(const QString &target);
    // Throws RecordStoreError naming what is wrong with the URL.
    static ServerTarget parse(const QString &url);
    // The URL without the password, for the operator.
    QString describe() const;
    // The driver's connect options ("key='value';..."): defaults first, then
    // the URL's own libpq parameters, each value quoted as libpq reads it
    // (in single quotes, \ and ' escaped: the driver appends the options to
    // libpq's connection string as they are), so that the URL's win (libpq
    // keeps the last value of a key). serverOptions
    // ("-c name=value ...") go into libpq's options ahead of the URL's own
    // options, which thus add to them rather than replace them.
    QString connectOptions(const QString &defaults, const QString &serverOptions = {}) const;
    // A new driver connection named connectionName to this server, not yet
    // opened, with connectOptions(defaults, serverOptions).
    QSqlDatabase addConnection(const QString &connectionName, const QString &defaults,
                               const QString &serverOptions) const;
    // A URL (or what was meant as one) as it may be shown: any password,
    // in the user part or as ?password=, replaced by "***", even when the
    // URL does not parse.
    static QString withoutPassword(const QString &url);
    // The URL with its password left out, for a file that keeps the URL:
    // libpq then finds the password in ~/.pgpass or PGPASSWORD. A URL that
    // does not parse keeps "***" in the password's place.
    static QString passwordRemoved(const QString &url);
    // Where a URL's passwords stand: (start, length) in url, in order.
    static QList<std::pair<qsizetype, qsizetype>> passwordSpans(const QString &url);
    // Whether a URL carries a password of its own.
    static bool hasPassword(const QString &url);
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
