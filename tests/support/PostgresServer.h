#pragma once

#include <QDir>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quobin::testing {

// A PostgreSQL server of the test's own, Debian's real one, in a temporary
// folder of its own (removed with it): initdb on the first start, then pg_ctl start and stop as often
// as the test likes. It listens on a Unix socket in that folder and on a
// free TCP port of 127.0.0.1; its superuser "quobin" needs no password.
// The server refuses to run as root, so when the test is root every server
// command runs as nobody (the folder is handed to nobody).
class PostgresServer {
public:
    static constexpr const char *user = "quobin";

    PostgresServer()
        : m_folder(m_temporary.path()), m_binaries(binaryFolder())
    {
    }
    ~PostgresServer()
    {
        if (m_running)
            stop();
    }
    PostgresServer(const PostgresServer &) = delete;
    PostgresServer &operator=(const PostgresServer &) = delete;

    // The folder of initdb and pg_ctl, empty when the server is not installed.
    static QString binaryFolder()
    {
        QDir versions(QStringLiteral("/usr/lib/postgresql"));
        const QStringList found = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::Reversed);
        for (const QString &version : found) {
            const QString bin = versions.filePath(version + QStringLiteral("/bin"));
            if (QFile::exists(bin + QStringLiteral("/initdb")) && QFile::exists(bin + QStringLiteral("/pg_ctl")))
                return bin;
        }
        return {};
    }

    // The server's own folder (its data, socket and log are inside).
    QString folder() const { return m_folder; }
    // More of the server's settings for the next start, as "-c name=value ...".
    void setExtraOptions(const QString &options) { m_extraOptions = QLatin1Char(' ') + options; }
    // Makes a file the server reads its own: owned by the user the server
    // runs as, readable by it alone (as it wants its TLS key).
    bool handToServer(const QString &path)
    {
        if (::geteuid() == 0 && ::chown(QFile::encodeName(path).constData(), 65534, 65534) != 0)
            return fail(QStringLiteral("cannot hand %1 to nobody").arg(path));
        if (!QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner))
            return fail(QStringLiteral("cannot make %1 private").arg(path));
        return true;
    }
    // From now on a TCP connection must give the password (SCRAM); the
    // Unix socket stays open without one, for psql().
    bool requirePassword(const QString &password)
    {
        QString output;
        if (!psql(QStringLiteral("postgres"), QStringLiteral("ALTER ROLE %1 PASSWORD '%2'").arg(QLatin1String(user), password), &output))
            return false;
        QFile hba(dataFolder() + QStringLiteral("/pg_hba.conf"));
        if (!hba.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return fail(QStringLiteral("cannot write pg_hba.conf"));
        hba.write("local all all trust\nhost all all 127.0.0.1/32 scram-sha-256\n");
        hba.close();
        return runServerCommand(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), dataFolder(), QStringLiteral("reload")})
            && psql(QStringLiteral("postgres"), QStringLiteral("SELECT pg_reload_conf()"), &output);
    }

    // Why the last step failed, for the test's failure message.
    QString problem() const { return m_problem; }
    int port() const { return m_port; }
    QString socketFolder() const { return m_folder + QStringLiteral("/socket"); }

    bool start()
    {
        if (m_binaries.isEmpty())
            return fail(QStringLiteral("PostgreSQL's server (initdb, pg_ctl) is not installed: "
                                       "apt-get install postgresql (scripts/test installs it)"));
        if (m_port == 0 && !initialise())
            return false;
        const QString options = QStringLiteral("-k %1 -p %2 -c listen_addresses=127.0.0.1 -c fsync=off")
                                    .arg(socketFolder()).arg(m_port)
            + m_extraOptions;
        if (!runServerCommand(QStringLiteral("pg_ctl"),
                              {QStringLiteral("-D"), dataFolder(), QStringLiteral("-l"), logFile(),
                               QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("60"),
                               QStringLiteral("-o"), options, QStringLiteral("start")}))
            return false;
        m_running = true;
        return true;
    }

    bool stop()
    {
        if (!runServerCommand(QStringLiteral("pg_ctl"),
                              {QStringLiteral("-D"), dataFolder(), QStringLiteral("-m"), QStringLiteral("fast"),
                               QStringLiteral("-w"), QStringLiteral("stop")}))
            return false;
        m_running = false;
        return true;
    }

    // postgresql://quobin@/database?host=<socket folder>&port=<port>
    QString socketUrl(const QString &database) const
    {
        return QStringLiteral("postgresql://%1@/%2?host=%3&port=%4")
            .arg(QLatin1String(user), database, socketFolder())
            .arg(m_port);
    }
    // postgresql://quobin@127.0.0.1:<port>/database
    QString tcpUrl(const QString &database) const
    {
        return QStringLiteral("postgresql://%1@127.0.0.1:%2/%3").arg(QLatin1String(user)).arg(m_port).arg(database);
    }

    bool createDatabase(const QString &name)
    {
        QString output;
        return psql(QStringLiteral("postgres"), QStringLiteral("CREATE DATABASE \"%1\"").arg(name), &output);
    }

    // Runs sql with psql (unaligned, tuples only) and gives its output: a
    // view of the server that does not go through the code under test.
    bool psql(const QString &database, const QString &sql, QString *output)
    {
        QProcess process;
        process.start(m_binaries + QStringLiteral("/psql"),
                      {QStringLiteral("-X"), QStringLiteral("-A"), QStringLiteral("-t"), QStringLiteral("-v"),
                       QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-h"), socketFolder(), QStringLiteral("-p"),
                       QString::number(m_port), QStringLiteral("-U"), QLatin1String(user), QStringLiteral("-d"),
                       database, QStringLiteral("-c"), sql});
        if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit
            || process.exitCode() != 0)
            return fail(QStringLiteral("psql %1 failed: %2").arg(sql, QString::fromLocal8Bit(process.readAllStandardError())));
        *output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
        return true;
    }

private:
    QString dataFolder() const { return m_folder + QStringLiteral("/data"); }
    QString logFile() const { return m_folder + QStringLiteral("/server.log"); }

    bool fail(const QString &why)
    {
        m_problem = why;
        return false;
    }

    bool initialise()
    {
        if (!m_temporary.isValid())
            return fail(QStringLiteral("cannot make a temporary folder: %1").arg(m_temporary.errorString()));
        if (!QDir().mkpath(socketFolder()))
            return fail(QStringLiteral("cannot make %1").arg(socketFolder()));
        if (::geteuid() == 0) {
            for (const QString &path : {m_folder, socketFolder()})
                if (::chown(QFile::encodeName(path).constData(), 65534, 65534) != 0)
                    return fail(QStringLiteral("cannot hand %1 to nobody").arg(path));
        }
        m_port = freePort();
        if (m_port == 0)
            return fail(QStringLiteral("no free TCP port on 127.0.0.1"));
        return runServerCommand(QStringLiteral("initdb"),
                                {QStringLiteral("-D"), dataFolder(), QStringLiteral("-U"), QLatin1String(user),
                                 QStringLiteral("--auth=trust"), QStringLiteral("--no-locale"), QStringLiteral("-E"),
                                 QStringLiteral("UTF8"), QStringLiteral("--no-sync")});
    }

    // Runs one of the server's programs, as nobody when the test is root.
    bool runServerCommand(const QString &name, const QStringList &arguments)
    {
        QString program = m_binaries + QLatin1Char('/') + name;
        QStringList all = arguments;
        if (::geteuid() == 0) {
            all = QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                              QStringLiteral("--clear-groups"), QStringLiteral("--"), program} + arguments;
            program = QStringLiteral("setpriv");
        }
        QProcess process;
        process.setWorkingDirectory(m_folder);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, all);
        if (!process.waitForFinished(90000) || process.exitStatus() != QProcess::NormalExit
            || process.exitCode() != 0) {
            QFile log(logFile());
            log.open(QIODevice::ReadOnly);
            return fail(QStringLiteral("%1 %2 failed: %3\n%4")
                            .arg(name, arguments.join(QLatin1Char(' ')), QString::fromLocal8Bit(process.readAll()),
                                 QString::fromLocal8Bit(log.readAll().right(2000))));
        }
        return true;
    }

    static int freePort()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0)
            return 0;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        int port = 0;
        if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
            && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        ::close(fd);
        return port;
    }

    QTemporaryDir m_temporary;
    QString m_folder;
    QString m_binaries;
    QString m_problem;
    int m_port = 0;
    bool m_running = false;
    QString m_extraOptions;
};

} // namespace quobin::testing
