// quobin-cli records against Debian's PostgreSQL, started by the test: TLS
// chosen in the URL and checked (a CA and a server certificate made with
// openssl), and the password found where libpq looks for it, never in the
// URL.
#include "CliRun.h"
#include "PostgresServer.h"
#include "TempFiles.h"

#include <QDir>
#include <QStandardPaths>
#include <QTest>

using quobin::testing::CliRun;
using quobin::testing::PostgresServer;
using quobin::testing::runProgram;

namespace {

const QString kPassword = QStringLiteral("line-Pa55");

// Runs openssl; false with its complaint in *problem when it fails.
bool openssl(const QStringList &arguments, const QString &folder, QString *problem)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (program.isEmpty()) {
        *problem = QStringLiteral("openssl is needed to make the test's certificates");
        return false;
    }
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        *problem = QStringLiteral("openssl %1: %2").arg(arguments.join(QLatin1Char(' ')),
                                                        QString::fromLocal8Bit(process.readAll()));
        return false;
    }
    return true;
}

// A CA of the test's own, named name, in folder: name.key and name.crt.
bool makeAuthority(const QString &folder, const QString &name, QString *problem)
{
    return openssl({QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                    QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                    QStringLiteral("/CN=Quobin test CA ") + name, QStringLiteral("-keyout"), name + QStringLiteral(".key"),
                    QStringLiteral("-out"), name + QStringLiteral(".crt")},
                   folder, problem);
}

} // namespace

class TestCliRecordsServer : public QObject {
    Q_OBJECT

private:
    quobin::testing::TempFiles m_temp;

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_temp.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("HOME"), m_temp.filePath(QStringLiteral("home")));
        for (const char *name : {"PGPASSWORD", "PGPASSFILE", "PGSERVICE", "PGSERVICEFILE", "PGSSLMODE", "PGHOST",
                                 "PGPORT", "PGUSER", "PGDATABASE", "PGSYSCONFDIR"})
            env.remove(QLatin1String(name));
        return env;
    }
    CliRun records(const QString &target, const QProcessEnvironment &env) const
    {
        return runProgram(QStringLiteral(QUOBIN_CLI), {QStringLiteral("records"), QStringLiteral("--records"), target}, env);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QDir().mkpath(m_temp.filePath(QStringLiteral("home"))));
    }

    // sslmode and sslrootcert reach libpq: verify-full with the right CA
    // connects; a CA that did not sign the server's certificate fails and
    // says why; a server without TLS fails under require.
    void tlsIsChosenAndChecked()
    {
        PostgresServer server;
        QVERIFY2(server.start(), qPrintable(server.problem()));
        QVERIFY2(server.createDatabase(QStringLiteral("line")), qPrintable(server.problem()));
        const QString plainUrl = QStringLiteral("postgresql://quobin@127.0.0.1:%1/line").arg(server.port());

        const CliRun refused = records(plainUrl + QStringLiteral("?sslmode=require"), environment());
        QCOMPARE(refused.status, 2);
        QVERIFY2(refused.err.contains(QLatin1String("SSL")), qPrintable(refused.err));
        QCOMPARE(records(plainUrl, environment()).status, 0);

        const QString certs = m_temp.filePath(QStringLiteral("certs"));
        QVERIFY(QDir().mkpath(certs));
        QString problem;
        QVERIFY2(makeAuthority(certs, QStringLiteral("ca"), &problem), qPrintable(problem));
        QVERIFY2(makeAuthority(certs, QStringLiteral("other-ca"), &problem), qPrintable(problem));
        QVERIFY2(openssl({QStringLiteral("req"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"), QStringLiteral("-nodes"),
                          QStringLiteral("-subj"), QStringLiteral("/CN=localhost"), QStringLiteral("-keyout"),
                          QStringLiteral("server.key"), QStringLiteral("-out"), QStringLiteral("server.csr")},
                         certs, &problem),
                 qPrintable(problem));
        QFile extensions(certs + QStringLiteral("/san.ext"));
        QVERIFY(extensions.open(QIODevice::WriteOnly));
        extensions.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n");
        extensions.close();
        QVERIFY2(openssl({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), QStringLiteral("server.csr"),
                          QStringLiteral("-CA"), QStringLiteral("ca.crt"), QStringLiteral("-CAkey"), QStringLiteral("ca.key"),
                          QStringLiteral("-CAcreateserial"), QStringLiteral("-days"), QStringLiteral("2"),
                          QStringLiteral("-extfile"), QStringLiteral("san.ext"), QStringLiteral("-out"), QStringLiteral("server.crt")},
                         certs, &problem),
                 qPrintable(problem));
        // The server reads its key and certificate from its own folder.
        for (const QString &name : {QStringLiteral("server.key"), QStringLiteral("server.crt")}) {
            const QString to = server.folder() + QLatin1Char('/') + name;
            QVERIFY(QFile::copy(certs + QLatin1Char('/') + name, to));
            QVERIFY2(server.handToServer(to), qPrintable(server.problem()));
        }
        QVERIFY2(server.stop(), qPrintable(server.problem()));
        server.setExtraOptions(QStringLiteral("-c ssl=on -c ssl_cert_file=%1/server.crt -c ssl_key_file=%1/server.key")
                                   .arg(server.folder()));
        QVERIFY2(server.start(), qPrintable(server.problem()));

        const CliRun verified = records(
            plainUrl + QStringLiteral("?sslmode=verify-full&sslrootcert=%1/ca.crt&application_name=bench-7").arg(certs),
            environment());
        QVERIFY2(verified.status == 0, qPrintable(verified.err));
        QCOMPARE(verified.out, QStringLiteral("No records.\n"));
        // A folder with a space, an apostrophe, a backslash and a letter
        // beyond ASCII, written in the URL as it stands, reaches libpq whole.
        const QString oddFolder = m_temp.filePath(QStringLiteral("line certs \u00fc/o'neil \\ ca"));
        QVERIFY(QDir().mkpath(oddFolder));
        QVERIFY(QFile::copy(certs + QStringLiteral("/ca.crt"), oddFolder + QStringLiteral("/ca.crt")));
        const CliRun oddPath =
            records(plainUrl + QStringLiteral("?sslmode=verify-full&sslrootcert=%1/ca.crt").arg(oddFolder), environment());
        QVERIFY2(oddPath.status == 0, qPrintable(oddPath.err));

        const CliRun wrongCa = records(plainUrl + QStringLiteral("?sslmode=verify-full&sslrootcert=%1/other-ca.crt").arg(certs),
                                       environment());
        QCOMPARE(wrongCa.status, 2);
        QVERIFY2(wrongCa.err.contains(QLatin1String("certificate verify failed")), qPrintable(wrongCa.err));

        // A root certificate that is not there is named in the reason.
        const CliRun missingCa = records(plainUrl + QStringLiteral("?sslmode=verify-ca&sslrootcert=%1/none.crt").arg(certs),
                                         environment());
        QCOMPARE(missingCa.status, 2);
        QVERIFY2(missingCa.err.contains(QLatin1String("none.crt")), qPrintable(missingCa.err));
    }

    // Parameters that libpq would take but the driver cannot pass on, and
    // names libpq does not know, are refused before any connection.
    void unknownOrUnpassableParametersAreRefused_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown") << "postgresql://u@h/db?sslmod=require" << "the option 'sslmod' is not supported";
        QTest::newRow("a semicolon") << "postgresql://u@h/db?options=-c%20a=1;b" << "holds a ';'";
    }
    void unknownOrUnpassableParametersAreRefused()
    {
        QFETCH(QString, target);
        QFETCH(QString, message);
        const CliRun run = records(target, environment());
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
    }

    // A password stays out of the URL: libpq finds it in PGPASSWORD, in
    // ~/.pgpass, in the file PGPASSFILE or passfile= names, or through a
    // service in ~/.pg_service.conf.
    void thePasswordIsFoundWhereLibpqLooks()
    {
        PostgresServer server;
        QVERIFY2(server.start(), qPrintable(server.problem()));
        QVERIFY2(server.createDatabase(QStringLiteral("line")), qPrintable(server.problem()));
        QVERIFY2(server.requirePassword(kPassword), qPrintable(server.problem()));
        const QString url = QStringLiteral("postgresql://quobin@127.0.0.1:%1/line").arg(server.port());
        const QString home = m_temp.filePath(QStringLiteral("home"));
        const QByteArray passLine = QStringLiteral("127.0.0.1:%1:line:quobin:%2\n").arg(server.port()).arg(kPassword).toUtf8();
        const auto privateFile = [&](const QString &path, const QByteArray &content) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(content);
            file.close();
            QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
        };

        const CliRun none = records(url, environment());
        QCOMPARE(none.status, 2);
        QVERIFY2(none.err.contains(QLatin1String("password")), qPrintable(none.err));

        QProcessEnvironment withVariable = environment();
        withVariable.insert(QStringLiteral("PGPASSWORD"), kPassword);
        CliRun run = records(url, withVariable);
        QVERIFY2(run.status == 0, qPrintable(run.err));

        privateFile(home + QStringLiteral("/.pgpass"), passLine);
        run = records(url, environment());
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QFile::remove(home + QStringLiteral("/.pgpass"));
        QCOMPARE(records(url, environment()).status, 2);

        const QString passfile = m_temp.filePath(QStringLiteral("line.pgpass"));
        privateFile(passfile, passLine);
        QProcessEnvironment withPassfile = environment();
        withPassfile.insert(QStringLiteral("PGPASSFILE"), passfile);
        run = records(url, withPassfile);
        QVERIFY2(run.status == 0, qPrintable(run.err));
        run = records(url + QStringLiteral("?passfile=") + passfile, environment());
        QVERIFY2(run.status == 0, qPrintable(run.err));

        privateFile(home + QStringLiteral("/.pg_service.conf"),
                    QStringLiteral("[line]\nhost=127.0.0.1\nport=%1\ndbname=line\nuser=quobin\npassfile=%2\n")
                        .arg(server.port())
                        .arg(passfile)
                        .toUtf8());
        run = records(QStringLiteral("postgresql:///?service=line"), environment());
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QCOMPARE(run.out, QStringLiteral("No records.\n"));

        // The password in the URL still works, and draws a warning.
        run = records(QStringLiteral("postgresql://quobin:%1@127.0.0.1:%2/line").arg(kPassword).arg(server.port()),
                      environment());
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QVERIFY2(run.err.contains(QLatin1String("warning: a password on the command line")), qPrintable(run.err));
    }
};

QTEST_GUILESS_MAIN(TestCliRecordsServer)
#include "tst_cli_records_server.moc"
