#pragma once

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quobin::testing {

// Debian's ser2net in front of a simulator's pseudo-terminal, as a bench's
// serial server: RFC 2217 on a free port of 127.0.0.1, started by the test
// as an ordinary user (nobody when the tests run as root) and stopped with
// it. start() fails the calling test, saying what to install, when ser2net
// cannot be had.
class Ser2net {
public:
    explicit Ser2net(QString device) : m_device(std::move(device)) {}
    ~Ser2net() { stop(); }

    quint16 port() const { return m_port; }
    QString address() const { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(m_port); }

    // Call through QVERIFY(server.start()); a false return has failed the
    // test with the reason.
    bool start()
    {
        const QString program = ser2netProgram();
        if (program.isEmpty()) {
            QTest::qFail("ser2net is not installed: apt-get install ser2net", __FILE__, __LINE__);
            return false;
        }
        if (m_port == 0)
            m_port = freePort();
        // The ordinary user must reach the pseudo-terminal and the folder.
        ::chmod(QFile::encodeName(m_device).constData(), 0666);
        ::chmod(QFile::encodeName(m_folder.path()).constData(), 0755);
        const QString config = m_folder.filePath(QStringLiteral("ser2net.yaml"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly)) {
            QTest::qFail("cannot write the ser2net configuration", __FILE__, __LINE__);
            return false;
        }
        file.write(QStringLiteral("connection: &bench\n"
                                  "  accepter: telnet(rfc2217),tcp,127.0.0.1,%1\n"
                                  "  connector: serialdev,%2,9600n81,local\n"
                                  "  options:\n"
                                  "    chardelay: false\n")
                       .arg(m_port)
                       .arg(m_device)
                       .toUtf8());
        file.close();
        ::chmod(QFile::encodeName(config).constData(), 0644);
        m_process.setProgram(program);
        // No daemon, no UUCP lock files (an ordinary user cannot write them).
        m_process.setArguments({QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-c"), config});
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        if (::geteuid() == 0) {
            m_process.setChildProcessModifier([] {
                if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                    ::_exit(3);
            });
        }
        m_process.start();
        if (!m_process.waitForStarted(5000)) {
            QTest::qFail(qPrintable(QStringLiteral("ser2net did not start: %1").arg(m_process.errorString())),
                         __FILE__, __LINE__);
            return false;
        }
        // Ready when it accepts a connection.
        for (int tries = 0; tries < 100; ++tries) {
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("127.0.0.1"), m_port);
            if (probe.waitForConnected(200)) {
                probe.abort();
                // Let it finish with the probe's connection before the test's.
                QThread::msleep(300);
                return true;
            }
            if (m_process.state() != QProcess::Running)
                break;
            QThread::msleep(50);
        }
        QTest::qFail(qPrintable(QStringLiteral("ser2net does not listen on port %1: %2")
                                    .arg(m_port)
                                    .arg(QString::fromLocal8Bit(m_process.readAll()))),
                     __FILE__, __LINE__);
        return false;
    }

    // The server goes away at once, as a killed process or a pulled cable
    // does; start() brings it back on the same port.
    void kill()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            kill();
    }

    static quint16 freePort()
    {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost, 0);
        return server.serverPort();
    }

private:
    static QString ser2netProgram()
    {
        QString found = QStandardPaths::findExecutable(QStringLiteral("ser2net"));
        if (found.isEmpty())
            found = QStandardPaths::findExecutable(QStringLiteral("ser2net"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
        return found;
    }

    QString m_device;
    QTemporaryDir m_folder;
    QProcess m_process;
    quint16 m_port = 0;
};

} // namespace quobin::testing
