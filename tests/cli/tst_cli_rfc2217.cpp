#include "CliRun.h"
#include "ControllerSimulator.h"
#include "FakeRfc2217Server.h"
#include "HexRecord.h"
#include "PortNames.h"
#include "Ser2net.h"
#include "TempFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QScopeGuard>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace quobin;
using namespace quobin::testing;
using quobin::sim::ControllerSimulator;
using quobin::sim::Fault;
using quobin::sim::SimulatorConfig;

namespace {

SimulatorConfig quick(QList<Fault> faults = {})
{
    SimulatorConfig config;
    config.version = "1.28";
    // The reset comes a moment after the main-code command, once the program
    // has reconnected for the bootloader.
    config.caretDelayMs = 400;
    config.faults = std::move(faults);
    return config;
}

} // namespace

// quobin-cli on a serial line behind Debian's ser2net, the built program
// against a simulated controller on the pseudo-terminal that ser2net serves.
class CliRfc2217Test : public QObject {
    Q_OBJECT

private:
    TempFiles m_folder;
    QByteArray m_hex = sim::HexRecord::sampleImage(300);
    QString m_firmware = m_folder.write(QStringLiteral("image.hex"), m_hex);

private slots:
    // Byte for byte through ser2net, resends included; the controller sees
    // the main-code command at 9600 without flow control and every line at
    // 57600 with XON/XOFF, as on a local port.
    void anUploadThroughSer2netArrivesByteForByteOnTheRightLine()
    {
        ControllerSimulator sim(quick({Fault(Fault::ChecksumOnce, 5), Fault(Fault::ChecksumOnce, 200)}));
        Ser2net server(sim.slavePath());
        QVERIFY(server.start());
        RunningCli run;
        QCOMPARE(runCli(run, {"upload", "--json", "--port", server.address(), m_firmware}), 0);
        const QJsonObject result = run.resultOf(server.address());
        QCOMPARE(result.value("result").toString(), QStringLiteral("success"));
        QCOMPARE(result.value("resends").toInt(), 2);

        QList<QByteArray> expected = linesOf(m_hex);
        // Lines count as they arrive, resends included.
        expected.insert(5, expected[4]);
        expected.insert(200, expected[199]);
        QCOMPARE(sim.receivedLines(), expected);
        QCOMPARE(sim.mainCodeBytes(), QByteArray("\r4*730562\r"));
        QCOMPARE(sim.uploadsCompleted(), 1);

        bool sawMainCode = false;
        int firmwareChunks = 0;
        for (const sim::ReceivedChunk &chunk : sim.receivedChunks()) {
            // The main-code command (its CR first, alone) and then the
            // bootloader's request and lines.
            if (!chunk.bytes.contains(':') && !chunk.bytes.contains('@')) {
                sawMainCode = sawMainCode || chunk.bytes.contains("4*730562");
                QCOMPARE(chunk.settings.baud, 9600);
                QVERIFY(!chunk.settings.ixon && !chunk.settings.ixoff);
            } else {
                ++firmwareChunks;
                QCOMPARE(chunk.settings.baud, 57600);
                QVERIFY2(chunk.settings.xonXoff(), chunk.bytes.left(40).constData());
            }
        }
        QVERIFY(sawMainCode);
        QVERIFY(firmwareChunks >= 300);
    }

    // A controller that answers the main-code command at once: its "^"
    // comes while the program changes to the bootloader's line, and must
    // not fall into a gap of that change (a reconnection once took 120 ms).
    void aQuickControllerIsHeardThroughSer2net_data()
    {
        QTest::addColumn<int>("caretDelayMs");
        QTest::newRow("30 ms") << 30;
        QTest::newRow("60 ms") << 60;
    }
    void aQuickControllerIsHeardThroughSer2net()
    {
        QFETCH(int, caretDelayMs);
        const QByteArray hex = sim::HexRecord::sampleImage(20);
        const QString firmware = m_folder.write(QStringLiteral("small.hex"), hex);
        for (int upload = 1; upload <= 3; ++upload) {
            SimulatorConfig config = quick();
            config.caretDelayMs = caretDelayMs;
            ControllerSimulator sim(config);
            Ser2net server(sim.slavePath());
            QVERIFY(server.start());
            RunningCli run;
            QCOMPARE(runCli(run, {"upload", "--json", "--wait-for-controller", "5", "--port", server.address(), firmware}), 0);
            QCOMPARE(run.resultOf(server.address()).value("result").toString(), QStringLiteral("success"));
            QCOMPARE(sim.mainCodeBytes(), QByteArray("\r4*730562\r"));
            QCOMPARE(sim.receivedLines(), linesOf(hex));
        }
    }

    // Ctrl-C between lines: exit 130, the server purged, and no line after
    // the one in flight reaches the controller.
    void ctrlCPurgesAndStops()
    {
        SimulatorConfig config = quick();
        config.paced = true;
        ControllerSimulator sim(config);
        Ser2net server(sim.slavePath());
        QVERIFY(server.start());
        RunningCli run;
        run.start({"upload", "--json", "--port", server.address(), m_firmware});
        QVERIFY(sim.waitUntil([&] { return sim.receivedLines().size() >= 40; }, 15000));
        run.signal(SIGINT);
        const qsizetype atSignal = sim.receivedLines().size();
        QCOMPARE(run.finish(), 130);
        QCOMPARE(run.resultOf(server.address()).value("result").toString(), QStringLiteral("cancelled"));
        QTest::qWait(300);
        const qsizetype atEnd = sim.receivedLines().size();
        QVERIFY2(atEnd <= atSignal + 2, qPrintable(QString("%1 then %2").arg(atSignal).arg(atEnd)));
        QCOMPARE(sim.uploadsCompleted(), 0);
    }

    // Ctrl-C while the program waits for the controller's "^" through the
    // server: it ends at once, as on a local port.
    void ctrlCEndsTheWaitForTheController()
    {
        SimulatorConfig config = quick();
        config.caretDelayMs = -1; // no "^" until the operator resets the board
        ControllerSimulator sim(config);
        Ser2net server(sim.slavePath());
        QVERIFY(server.start());
        RunningCli run;
        run.start({"upload", "--json", "--port", server.address(), m_firmware});
        QVERIFY(sim.waitUntil([&] { return sim.mainCodeCommands() == 1; }, 10000));
        QTest::qWait(700);
        QElapsedTimer sinceSignal;
        sinceSignal.start();
        run.signal(SIGINT);
        QCOMPARE(run.finish(), 130);
        QVERIFY2(sinceSignal.elapsed() < 1500, qPrintable(QString::number(sinceSignal.elapsed())));
        QCOMPARE(run.resultOf(server.address()).value("result").toString(), QStringLiteral("cancelled"));
        QCOMPARE(sim.requestCount(), 0);
    }

    // The server dies mid-transfer: a port error that says so, within 5 s.
    void aServerKilledMidTransferEndsTheUploadWithAReason()
    {
        SimulatorConfig config = quick();
        config.paced = true;
        ControllerSimulator sim(config);
        Ser2net server(sim.slavePath());
        QVERIFY(server.start());
        RunningCli run;
        run.start({"upload", "--json", "--port", server.address(), m_firmware});
        QVERIFY(sim.waitUntil([&] { return sim.receivedLines().size() >= 40; }, 15000));
        QElapsedTimer sinceKill;
        sinceKill.start();
        server.kill();
        QCOMPARE(run.finish(8000), 1);
        QVERIFY2(sinceKill.elapsed() < 5000, qPrintable(QString::number(sinceKill.elapsed())));
        const QJsonObject result = run.resultOf(server.address());
        QVERIFY2(result.value("result").toString() == QLatin1String("transfer-error")
                     || result.value("result").toString() == QLatin1String("port-error"),
                 qPrintable(result.value("result").toString()));
        QVERIFY2(run.err.contains("connection to the serial server at 127.0.0.1") && run.err.contains("was lost"),
                 run.err.constData());
    }

    // A server that cannot do XON/XOFF acknowledges another flow control:
    // the upload fails naming it, and no byte goes out at 57600.
    void aServerWithoutXonXoffGetsNothingAt57600()
    {
        FakeRfc2217Server server;
        server.answerFor = [](quint8 command, const QByteArray &value) {
            // It knows no XON/XOFF, and says it runs without flow control.
            if (command == 5 && value == QByteArray(1, char(2)))
                return QByteArray(1, char(1));
            if (command == 5 && value == QByteArray(1, char(15)))
                return QByteArray(1, char(14));
            return value;
        };
        server.start();
        const QString address = QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.port());
        RunningCli run;
        QCOMPARE(runCli(run, {"upload", "--json", "--port", address, m_firmware}), 1);
        QCOMPARE(run.resultOf(address).value("result").toString(), QStringLiteral("port-error"));
        QVERIFY2(run.err.contains("set the outbound flow control to 1 (none) when 2 (XON/XOFF) was asked for"),
                 run.err.constData());
        const QList<FakeRfc2217Server::Connection> connections = server.connections();
        // The change to the bootloader's line goes over the same session.
        QCOMPARE(connections.size(), 1);
        QCOMPARE(connections[0].data, QByteArray("\r4*730562\r"));
        for (const FakeRfc2217Server::Connection &connection : connections)
            QCOMPARE(connection.dataAt57600, QByteArray());
    }

    // A server whose UART starts 15 ms late: the main-code command still
    // leaves it whole and at 9600 before the line changes for the bootloader.
    void theMainCodeCommandLeavesALateUartAt9600()
    {
        FakeRfc2217Server server;
        server.uartStartDelayMsecs = 15;
        server.reportsTransmitter = true;
        server.start();
        const QString address = QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.port());
        RunningCli run;
        QCOMPARE(runCli(run, {"upload", "--json", "--wait-for-controller", "1", "--port", address, m_firmware}), 1);
        QCOMPARE(run.resultOf(address).value("result").toString(), QStringLiteral("no-controller"));
        QVERIFY(server.connections().size() >= 1);
        QCOMPARE(server.connections()[0].lineAt9600, QByteArray("\r4*730562\r"));
    }

    // Ctrl-C while the port is still being reached: a connection that hangs
    // (a server whose queue of connections is full) and a server that never
    // negotiates. The program ends at once, cancelled.
    void ctrlCEndsAnOpenThatIsStillReachingTheServer_data()
    {
        QTest::addColumn<bool>("connecting");
        QTest::newRow("TCP connect") << true;
        QTest::newRow("negotiation") << false;
    }
    void ctrlCEndsAnOpenThatIsStillReachingTheServer()
    {
        QFETCH(bool, connecting);
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        QList<int> fillers;
        const auto closeAll = qScopeGuard([&] {
            for (const int fd : std::as_const(fillers))
                ::close(fd);
            ::close(listener);
        });
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QCOMPARE(::bind(listener, reinterpret_cast<sockaddr *>(&where), sizeof where), 0);
        QCOMPARE(::listen(listener, 0), 0);
        socklen_t length = sizeof where;
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&where), &length);
        // Never accepted: the first connections fill the queue, and a
        // further one waits for an answer that does not come.
        if (connecting) {
            for (int i = 0; i < 3; ++i) {
                const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
                ::connect(filler, reinterpret_cast<sockaddr *>(&where), sizeof where);
                fillers << filler;
            }
            QTest::qWait(100);
        }
        const QString address = QStringLiteral("rfc2217://127.0.0.1:%1").arg(ntohs(where.sin_port));
        RunningCli run;
        run.start({"upload", "--json", "--port", address, m_firmware});
        QTest::qWait(connecting ? 1000 : 1500);
        QElapsedTimer sinceSignal;
        sinceSignal.start();
        run.signal(SIGINT);
        QCOMPARE(run.finish(), 130);
        QVERIFY2(sinceSignal.elapsed() < 700, qPrintable(QString::number(sinceSignal.elapsed())));
        QCOMPARE(run.resultOf(address).value("result").toString(), QStringLiteral("cancelled"));
    }

    // The host look-up through a name server that never answers (our own,
    // on 127.0.0.1, given to the program in a mount namespace of its own):
    // it ends within the connection's bound and says so, and Ctrl-C ends it.
    void aHostLookUpIsBoundedAndEndsOnCtrlC_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("bound") << false;
        QTest::newRow("Ctrl-C") << true;
    }
    void aHostLookUpIsBoundedAndEndsOnCtrlC()
    {
        QFETCH(bool, cancel);
        if (::geteuid() != 0)
            QFAIL("this test points the program at its own name server through a private mount namespace, "
                  "which needs root (unshare -m)");
        const QString unshare = QStandardPaths::findExecutable(QStringLiteral("unshare"));
        QVERIFY2(!unshare.isEmpty(), "unshare (util-linux) is needed");
        // A name server that takes every question and answers none.
        const int silent = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_port = htons(53);
        where.sin_addr.s_addr = htonl(0x7f350001); // 127.53.0.1
        const auto closeSilent = qScopeGuard([silent] { ::close(silent); });
        QVERIFY2(::bind(silent, reinterpret_cast<sockaddr *>(&where), sizeof where) == 0, "cannot bind 127.53.0.1:53");
        const QString resolv = m_folder.write(QStringLiteral("resolv.conf"), "nameserver 127.53.0.1\noptions timeout:5 attempts:2\n");
        const QString nsswitch = m_folder.write(QStringLiteral("nsswitch.conf"), "hosts: dns\n");
        const QString address = QStringLiteral("rfc2217://bench1.plant.example:2217");
        RunningCli run;
        run.program = unshare;
        QElapsedTimer elapsed;
        elapsed.start();
        run.start({"-m", "sh", "-c",
                   QStringLiteral("mount --bind %1 /etc/resolv.conf && mount --bind %2 /etc/nsswitch.conf && exec \"$0\" \"$@\"")
                       .arg(resolv, nsswitch),
                   QStringLiteral(QUOBIN_CLI), "upload", "--json", "--port", address, m_firmware});
        if (cancel) {
            QTest::qWait(1000);
            elapsed.restart();
            run.signal(SIGINT);
            QCOMPARE(run.finish(), 130);
            QVERIFY2(elapsed.elapsed() < 700, qPrintable(QString::number(elapsed.elapsed())));
            QCOMPARE(run.resultOf(address).value("result").toString(), QStringLiteral("cancelled"));
        } else {
            QCOMPARE(run.finish(), 1);
            QVERIFY2(elapsed.elapsed() < 4500, qPrintable(QString::number(elapsed.elapsed())));
            QVERIFY2(run.err.contains("the look-up of host bench1.plant.example found no answer within 3 s"), run.err.constData());
        }
    }

    // Connecting fails in bounded time with the reason, in the words the
    // operator needs.
    void connectionFaultsEndTheUploadWithAReason_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("reason");
        QTest::newRow("refused") << QStringLiteral("rfc2217://127.0.0.1:%1").arg(Ser2net::freePort())
                                 << QStringLiteral("the connection was refused");
        QTest::newRow("unknown host") << QStringLiteral("rfc2217://no-such-bench.invalid:2000")
                                      << QStringLiteral("unknown host no-such-bench.invalid");
        QTest::newRow("malformed") << QStringLiteral("rfc2217://[::1]") << QStringLiteral("not a network port");
        QTest::newRow("no port") << QStringLiteral("rfc2217://127.0.0.1:") << QStringLiteral("no TCP port after the host");
        QTest::newRow("user name") << QStringLiteral("rfc2217://operator@127.0.0.1:2217")
                                   << QStringLiteral("a user name has no place in it");
        // A port that takes connections and never says a word: a raw TCP
        // port, or a server hung.
        QTest::newRow("never negotiates") << QStringLiteral("rfc2217://127.0.0.1:SILENT")
                                          << QStringLiteral("did not take up RFC 2217 within 3 s");
    }
    void connectionFaultsEndTheUploadWithAReason()
    {
        QFETCH(QString, address);
        QFETCH(QString, reason);
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        address.replace(QStringLiteral("SILENT"), QString::number(silent.serverPort()));
        RunningCli run;
        QElapsedTimer elapsed;
        elapsed.start();
        const int status = runCli(run, {"upload", "--port", address, m_firmware});
        QVERIFY2(status == 1 || status == 2, qPrintable(QString::number(status)));
        QVERIFY2(run.err.contains(reason.toUtf8()), run.err.constData());
        QVERIFY(elapsed.elapsed() < 5000);
    }

    // The help of the commands that take a port names the network's form.
    void theHelpNamesNetworkPorts()
    {
        for (const char *command : {"upload", "station"}) {
            RunningCli run;
            QCOMPARE(runCli(run, {command, "--help"}), 0);
            QVERIFY2(run.out.contains("rfc2217://HOST:PORT"), run.out.constData());
        }
    }

    // "Com 3" linked to the server: ports shows what it is, and an upload
    // through "Com 3" reaches the controller.
    void aComLinkHoldsTheServersAddress()
    {
        ControllerSimulator sim(quick());
        Ser2net server(sim.slavePath());
        QVERIFY(server.start());
        // A copy of the program in a folder of the test's own keeps its
        // links beside it.
        QVERIFY(QDir().mkpath(m_folder.filePath(QStringLiteral("bin"))));
        const QString program = m_folder.filePath(QStringLiteral("bin/quobin-cli"));
        QFile::remove(program);
        QVERIFY(QFile::copy(QStringLiteral(QUOBIN_CLI), program));
        QVERIFY(QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner));
        const CliRun link = runProgram(program, {"link", "3", server.address()});
        QVERIFY2(link.status == 0, qPrintable(link.err));
        QVERIFY2(link.out.contains("a serial server on the network"), qPrintable(link.out));
        const QString linkPath = link.out.section(QStringLiteral(" -> "), 0, 0);
        // The link holds the address itself.
        QCOMPARE(linkText(linkPath), server.address());

        const CliRun ports = runProgram(program, {"ports", "--json"});
        QVERIFY2(ports.status == 0, qPrintable(ports.err));
        QVERIFY2(ports.out.contains("\"network\": true") || ports.out.contains("\"network\":true"), qPrintable(ports.out));

        const CliRun upload = runProgram(program, {"upload", "--port", "Com 3", m_firmware});
        QFile::remove(linkPath);
        QVERIFY2(upload.status == 0, qPrintable(upload.out + upload.err));
        QCOMPARE(sim.receivedLines(), linesOf(m_hex));
    }
};

QTEST_GUILESS_MAIN(CliRfc2217Test)
#include "tst_cli_rfc2217.moc"
