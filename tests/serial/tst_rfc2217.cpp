#include "MemoryBounds.h"
#include "Clock.h"
#include "FakeRfc2217Server.h"
#include "PollWithDeadline.h"
#include "NetworkPortAddress.h"
#include "Rfc2217Codec.h"
#include "Rfc2217Line.h"
#include "Rfc2217Port.h"
#include "SerialError.h"
#include "SerialPorts.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <thread>

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>

using namespace quobin;
using quobin::testing::FakeRfc2217Server;

namespace {

QByteArray raw(std::initializer_list<int> values)
{
    QByteArray out;
    for (const int value : values)
        out.append(char(value));
    return out;
}

// The reason the port gives for failing to open, empty when it opened.
QString openFailure(SerialPort &port)
{
    try {
        port.setPortOpen(true);
    } catch (const SerialError &error) {
        return QString::fromStdString(error.what());
    }
    return {};
}

// This process's resident memory.
qint64 residentKib()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &entry : status.readAll().split('\n')) {
        if (entry.startsWith("VmRSS:"))
            return entry.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

// Brings the loopback of this thread's network namespace up or down.
bool setLoopbackUp(bool up)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool done = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = short(up ? request.ifr_flags | IFF_UP : request.ifr_flags & ~IFF_UP);
    done = done && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    return done;
}

Rfc2217Timing quickTiming()
{
    Rfc2217Timing timing;
    timing.negotiateMsecs = 700;
    timing.answerMsecs = 700;
    return timing;
}

} // namespace

class Rfc2217Test : public QObject {
    Q_OBJECT

private slots:
    void addressesAreParsedWithTheirFaults()
    {
        QCOMPARE(NetworkPortAddress::parse("rfc2217://127.0.0.1:4000").text(), QString("127.0.0.1:4000"));
        const NetworkPortAddress six = NetworkPortAddress::parse("RFC2217://[::1]:2217/");
        QCOMPARE(six.host, QString("::1"));
        QCOMPARE(six.port, quint16(2217));
        QCOMPARE(six.name(), QString("rfc2217://[::1]:2217"));
        QCOMPARE(NetworkPortAddress::parse("rfc2217://bench-7.plant:7001").host, QString("bench-7.plant"));
        for (const char *bad : {"rfc2217://host", "rfc2217://host:0", "rfc2217://host:70000", "rfc2217://:40",
                                "rfc2217://::1:40", "rfc2217://host:40/x"}) {
            QVERIFY(NetworkPortAddress::names(bad));
            QVERIFY_THROWS_EXCEPTION(SerialError, NetworkPortAddress::parse(bad));
        }
        QVERIFY(!NetworkPortAddress::names("/dev/ttyUSB0"));

        // A zone names the interface of a link-local address, as the
        // operator writes it or as a URL escapes it.
        for (const char *zoned : {"rfc2217://[fe80::1%eth0]:2217", "rfc2217://[fe80::1%25eth0]:2217"}) {
            const NetworkPortAddress link = NetworkPortAddress::parse(zoned);
            QCOMPARE(link.host, QString("fe80::1%eth0"));
            QCOMPARE(link.name(), QString("rfc2217://[fe80::1%eth0]:2217"));
        }
        QCOMPARE(NetworkPortAddress::parse("rfc2217://[fe80::1%3]:2217").host, QString("fe80::1%3"));

        // Each fault says what it is.
        const QList<std::pair<const char *, const char *>> faults{
            {"rfc2217://127.0.0.1:", "no TCP port after the host"},
            {"rfc2217://127.0.0.1", "no TCP port after the host"},
            {"rfc2217://operator@bench1:2217", "a user name has no place in it"},
            {"rfc2217://bench1:2217/line1", "nothing may follow the port"},
            {"rfc2217://bench1:02217", "the TCP port is written with a leading zero (write 2217)"},
            {"rfc2217://[fe80::1%]:2217", "the zone after fe80::1% is not an interface name"},
            {"rfc2217://fe80::1:2217", "an IPv6 address goes in brackets"},
            {"rfc2217://[bench1]:2217", "bench1 in brackets is not an IPv6 address"},
            {"rfc2217://[::1:2217", "the IPv6 address has no closing bracket"},
            {"rfc2217://bench1:port", "the TCP port \"port\" is not a number"},
            {"rfc2217://:40", "no host before the port"},
            {"rfc2217://", "no host and port"},
        };
        for (const auto &[bad, why] : faults) {
            try {
                NetworkPortAddress::parse(bad);
                QFAIL(bad);
            } catch (const SerialError &error) {
                QVERIFY2(QString::fromStdString(error.what()).contains(why), error.what());
            }
        }
    }

    // The settings text in the protocol's values, and its time on the wire.
    void lineSettingsBecomeTheProtocolsValues()
    {
        const Rfc2217Line bootloader = Rfc2217Line::parse("57600,n,8,1");
        QCOMPARE(bootloader.baud, quint32(57600));
        QCOMPARE(bootloader.parity, quint8(1));
        QCOMPARE(bootloader.dataSize, quint8(8));
        QCOMPARE(bootloader.stopSize, quint8(1));
        QCOMPARE(bootloader.bitsPerCharacter, 10);
        const Rfc2217Line odd = Rfc2217Line::parse("1200,O,7,1.5");
        QCOMPARE(odd.parity, quint8(2));
        QCOMPARE(odd.stopSize, quint8(3));
        QCOMPARE(odd.bitsPerCharacter, 11);
        QCOMPARE(Rfc2217Line::parse("9600,e,8,2").bitsPerCharacter, 12);
        QCOMPARE(Rfc2217Line::parse("9600,s,8,1").parity, quint8(5));
        for (const char *bad : {"9600,n,8", "9600,x,8,1", "fast,n,8,1", "9600,n,9,1", "9600,n,8,3", "-1,n,8,1"})
            QVERIFY_THROWS_EXCEPTION(SerialError, Rfc2217Line::parse(bad));
        QCOMPARE(Rfc2217Line::valueText(QByteArray("\x00\x00\xe1\x00", 4), Rfc2217Codec::SetBaudRate), QString("57600"));
        QCOMPARE(Rfc2217Line::valueText(QByteArray(1, char(15)), Rfc2217Codec::SetControl), QString("15 (XON/XOFF)"));
    }

    // Data and commands share the stream: a doubled 0xFF is one data byte,
    // commands and negotiation in the middle of data are taken out and never
    // seen as data, in whatever pieces the bytes come.
    void theCodecSeparatesDataFromCommandsInAnyPieces()
    {
        const QByteArray stream = QByteArray("^a") + raw({255, 255}) + "b" + raw({255, 241}) // NOP
                                  + raw({255, 251, 1})                                        // WILL ECHO
                                  + raw({255, 250, 44, 106, 0x40, 255, 240})                 // NOTIFY-LINESTATE
                                  + "c" + raw({255, 250, 44, 105, 2, 255, 240})              // SET-CONTROL answer
                                  + raw({255, 250, 44, 101, 0, 0, 0xe1, 0, 255, 240})        // baud answer
                                  + raw({255, 253, 44, 255, 251, 0, 255, 253, 0}) + "~";
        for (const int piece : {1, 2, 3, 7, int(stream.size())}) {
            Rfc2217Codec codec;
            for (qsizetype at = 0; at < stream.size(); at += piece)
                codec.feed(stream.mid(at, piece));
            QCOMPARE(codec.data(), QByteArray("^a\xff" "bc~"));
            QCOMPARE(codec.answers().size(), 2);
            QCOMPARE(codec.answers()[0].command, quint8(Rfc2217Codec::SetControl));
            QCOMPARE(codec.answers()[0].value, raw({2}));
            QCOMPARE(codec.answers()[1].value, raw({0, 0, 0xe1, 0}));
            QCOMPARE(codec.lineStateReports(), 1);
            QCOMPARE(*codec.lineState(), quint8(0x40));
            QCOMPARE(codec.comPort(), Rfc2217Codec::Agreement::Agreed);
            QCOMPARE(codec.binaryToServer(), Rfc2217Codec::Agreement::Agreed);
            QCOMPARE(codec.binaryFromServer(), Rfc2217Codec::Agreement::Agreed);
            // An option nobody asked for is refused, once per offer.
            QCOMPARE(codec.takeReplies(), raw({255, 254, 1}));
            QCOMPARE(codec.takeReplies(), QByteArray());
        }
    }

    void theCodecEscapesAndFramesWhatItSends()
    {
        QCOMPARE(Rfc2217Codec::escaped(raw({1, 255, 2, 255, 255})), raw({1, 255, 255, 2, 255, 255, 255, 255}));
        QCOMPARE(Rfc2217Codec::escaped("plain"), QByteArray("plain"));
        QCOMPARE(Rfc2217Codec::command(Rfc2217Codec::SetBaudRate, raw({0, 0, 0xe1, 0})),
                 raw({255, 250, 44, 1, 0, 0, 0xe1, 0, 255, 240}));
        // A value byte 255 is doubled inside the subnegotiation too.
        QCOMPARE(Rfc2217Codec::command(Rfc2217Codec::SetBaudRate, raw({0, 0, 0xff, 0})),
                 raw({255, 250, 44, 1, 0, 0, 0xff, 0xff, 0, 255, 240}));
        QCOMPARE(Rfc2217Codec::opening(), raw({255, 251, 44, 255, 251, 0, 255, 253, 0}));
    }

    // The real client on a real connection: a 0xFF goes out doubled and
    // comes back single; Telnet commands amid the answer are not data.
    void theDataPathEscapesBothWays_data()
    {
        QTest::addColumn<bool>("trickle");
        QTest::newRow("whole replies") << false;
        QTest::newRow("a byte at a time") << true;
    }
    void theDataPathEscapesBothWays()
    {
        QFETCH(bool, trickle);
        FakeRfc2217Server server;
        server.trickle = trickle;
        server.replyToData = QByteArray("~") + raw({255, 255, 255, 241}) + raw({255, 250, 44, 106, 0, 255, 240})
                             + raw({255, 251, 3}) + "@";
        server.start();
        std::unique_ptr<SerialPort> port
            = makeSerialPortOn(QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.port()));
        port->setSettings("57600,n,8,1");
        port->setHandshaking(SerialPort::XonXoff);
        port->setPortOpen(true);
        port->output(QByteArray(":01\xff") + raw({255, 255}) + "\r\n");
        QByteArray received;
        QElapsedTimer elapsed;
        elapsed.start();
        while (!received.contains('@') && elapsed.elapsed() < 3000) {
            port->waitForInput(500);
            received += port->input();
        }
        QCOMPARE(received, QByteArray("~\xff@"));
        port->setPortOpen(false);
        // The session stays a moment for a reopen, and ends with the port.
        QVERIFY(!server.connections()[0].raw.contains(raw({255, 250, 44, 12})));
        port.reset();
        const QList<FakeRfc2217Server::Connection> connections = server.connections();
        QCOMPARE(connections.size(), 1);
        QCOMPARE(connections[0].data, QByteArray(":01\xff\xff\xff\r\n"));
        QVERIFY(connections[0].raw.contains(QByteArray(":01") + raw({255, 255, 255, 255, 255, 255}) + "\r\n"));
        // The end purged the line's input; its output only the server could
        // have confirmed gone, and this one reports nothing.
        QVERIFY(connections[0].raw.contains(raw({255, 250, 44, 12, 1, 255, 240})));
    }

    // A close waits until the server's UART has sent what was written: by
    // the server's report of its transmitter where it gives one, else for
    // the wire time.
    void theCloseWaitsForTheWireOrTheServersReport_data()
    {
        QTest::addColumn<bool>("reports");
        QTest::newRow("wire time") << false;
        QTest::newRow("transmitter report") << true;
    }
    void theCloseWaitsForTheWireOrTheServersReport()
    {
        QFETCH(bool, reports);
        FakeRfc2217Server server;
        if (reports) {
            // It says when its UART has sent the last byte.
            server.uartStartDelayMsecs = 0;
            server.reportsTransmitter = true;
        } else
            server.answerFor = [](quint8 command, const QByteArray &value) {
                return command == Rfc2217Codec::SetLineStateMask ? raw({0}) : value; // reports nothing
            };
        server.start();
        const std::unique_ptr<SerialPort> port
            = makeSerialPortOn(QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.port()));
        port->setSettings("9600,n,8,1");
        port->setPortOpen(true);
        // 600 bytes at 9600 baud: 625 ms on the wire.
        port->output(QByteArray(600, 'x'));
        if (reports) {
            // The report has come back before the close is asked for.
            QElapsedTimer waited;
            waited.start();
            while (waited.elapsed() < 800)
                port->waitForInput(50);
        }
        QElapsedTimer closing;
        closing.start();
        port->setPortOpen(false);
        const qint64 took = closing.elapsed();
        if (reports)
            QVERIFY2(took < 200, qPrintable(QString::number(took)));
        else
            QVERIFY2(took >= 600 && took < 2000, qPrintable(QString::number(took)));
        QCOMPARE(server.connections().value(0).data.size(), 600);
    }

    // A server whose UART starts late: the close and the end of the port
    // lose nothing written, whether the server reports its transmitter
    // (the close waits for that) or not (its output is then never purged).
    void nothingWrittenIsLostByAClose_data()
    {
        QTest::addColumn<bool>("reports");
        QTest::newRow("transmitter report") << true;
        QTest::newRow("no report") << false;
    }
    void nothingWrittenIsLostByAClose()
    {
        QFETCH(bool, reports);
        FakeRfc2217Server server;
        server.uartStartDelayMsecs = 15;
        server.reportsTransmitter = reports;
        server.start();
        auto port = std::make_unique<Rfc2217Port>(
            [&server](qint16) { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.port()); }, quickTiming());
        port->setSettings("9600,n,8,1");
        port->setPortOpen(true);
        port->output("\r4*730562\r");
        port->setPortOpen(false);
        port.reset();
        QElapsedTimer waited;
        waited.start();
        while (server.connections().value(0).line.size() < 10 && waited.elapsed() < 2000)
            QTest::qWait(10);
        QCOMPARE(server.connections().value(0).line, QByteArray("\r4*730562\r"));
        QCOMPARE(server.connections().value(0).lineAt9600, QByteArray("\r4*730562\r"));
    }

    // Unasked answers and suspend messages by the megabyte keep nothing:
    // only a pending question keeps the answers it waits for.
    void aFloodOfUnaskedMessagesKeepsNothing_data()
    {
        QTest::addColumn<QByteArray>("unit");
        QTest::newRow("SET-CONTROL answers") << raw({255, 250, 44, 105, 1, 255, 240});
        QTest::newRow("suspend and resume") << raw({255, 250, 44, 108, 255, 240, 255, 250, 44, 109, 255, 240});
    }
    void aFloodOfUnaskedMessagesKeepsNothing()
    {
        QFETCH(QByteArray, unit);
        FakeRfc2217Server server;
        server.floodUnit = unit;
        server.floodBytes = 40 * 1024 * 1024;
        server.floodEnd = "!";
        server.start();
        const std::unique_ptr<SerialPort> port
            = makeSerialPortOn(QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.port()));
        port->setSettings("57600,n,8,1");
        port->setPortOpen(true);
        const qint64 before = residentKib();
        port->output("x");
        QByteArray received;
        QElapsedTimer elapsed;
        elapsed.start();
        while (!received.contains('!') && elapsed.elapsed() < 25000) {
            port->waitForInput(200);
            received += port->input();
        }
        const qint64 grown = residentKib() - before;
        QCOMPARE(received, QByteArray("!"));
        QVERIFY2(grown < quobin::testing::growthBoundKib(20 * 1024), qPrintable(QStringLiteral("%1 KiB").arg(grown)));
        port->setPortOpen(false);
    }

    // FLOWCONTROL-SUSPEND holds what is written until FLOWCONTROL-RESUME.
    void aSuspendHoldsWhatIsWrittenUntilTheResume()
    {
        FakeRfc2217Server server;
        server.suspendMsecs = 400;
        server.start();
        const std::unique_ptr<SerialPort> port
            = makeSerialPortOn(QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.port()));
        port->setSettings("57600,n,8,1");
        port->setPortOpen(true);
        port->output("a");
        QTest::qWait(100);
        port->waitForInput(100); // the suspend has come by now
        port->output("b");
        QElapsedTimer elapsed;
        elapsed.start();
        while (server.connections().value(0).data.size() < 2 && elapsed.elapsed() < 3000)
            port->waitForInput(20);
        const FakeRfc2217Server::Connection connection = server.connections().value(0);
        QCOMPARE(connection.data, QByteArray("ab"));
        QCOMPARE(connection.dataWhileSuspended, QByteArray());
        port->setPortOpen(false);
    }

    // A subnegotiation longer than any answer is dropped whole, not read
    // from its first 64 bytes.
    void anOversizedSubnegotiationIsDropped()
    {
        Rfc2217Codec codec;
        codec.feed(raw({255, 250, 44, 105, 1}) + QByteArray(Rfc2217Codec::kLongestSubnegotiation, 'x')
                   + raw({255, 240}) + "d" + raw({255, 250, 44, 105, 2, 255, 240}));
        QCOMPARE(codec.data(), QByteArray("d"));
        QCOMPARE(codec.answers().size(), 1);
        QCOMPARE(codec.answers()[0].value, raw({2}));
    }

    // A server that vanishes without a word while the port waits for the
    // controller's "^" is noticed by keep-alive times of the port's own,
    // and said so. The server goes dark on a loopback of a private network
    // namespace, which goes with the thread that made it.
    void aServerThatVanishesIsNoticedAndSaidSo()
    {
        if (::geteuid() != 0)
            QFAIL("this test takes the loopback of a private network namespace down, which needs root");
        QVERIFY(Rfc2217Timing{}.keepAlive.noticedWithinSecs() < 60);
        QString failure;
        QString problem;
        qint64 noticedAfter = -1;
        std::thread dark([&] {
            if (::unshare(CLONE_NEWNET) != 0 || !setLoopbackUp(true)) {
                problem = QStringLiteral("no private network namespace: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
                return;
            }
            FakeRfc2217Server server;
            server.start();
            Rfc2217Timing timing = quickTiming();
            timing.keepAlive = {1, 1, 2, 3000};
            Rfc2217Port port([&server](qint16) { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.port()); },
                             timing);
            port.setSettings("57600,n,8,1");
            port.setPortOpen(true);
            setLoopbackUp(false);
            SteadyClock clock;
            PollWithDeadline waits(port, clock);
            QByteArray response;
            QElapsedTimer waited;
            waited.start();
            try {
                // Without a bound of its own this waits for ever: the test's
                // limit is the cancel.
                waits.forMarker('^', response, {[&] { return waited.elapsed() > 15000; }, nullptr});
            } catch (const SerialError &error) {
                failure = QString::fromStdString(error.what());
                noticedAfter = waited.elapsed();
            }
        });
        dark.join();
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QVERIFY2(noticedAfter >= 0 && noticedAfter < 10000, qPrintable(QString::number(noticedAfter)));
        QVERIFY2(failure.contains("was lost: nothing came back from it for"), qPrintable(failure));
        qInfo("%s", qPrintable(failure));
    }

    // An IPv6 literal in brackets reaches a server on [::1].
    void anIpv6ServerIsReachedByItsLiteral()
    {
        FakeRfc2217Server server(true);
        if (!server.listening())
            QSKIP("this machine has no IPv6 loopback ([::1])");
        server.start();
        const std::unique_ptr<SerialPort> port = makeSerialPortOn(QStringLiteral("rfc2217://[::1]:%1").arg(server.port()));
        port->setSettings("9600,n,8,1");
        QCOMPARE(openFailure(*port), QString());
        port->output("\r4*730562\r");
        port->setPortOpen(false);
        QCOMPARE(server.connections().value(0).data, QByteArray("\r4*730562\r"));
        QCOMPARE(server.connections().value(0).baud, quint32(9600));
    }

    // A server that acknowledges another flow control than asked (one that
    // cannot do XON/XOFF) must not get a byte: the open fails and says which.
    void aSettingAcknowledgedOtherwiseFailsTheOpenAndNamesIt()
    {
        FakeRfc2217Server server;
        server.answerFor = [](quint8 command, const QByteArray &value) {
            return command == 5 && value != raw({1}) && value != raw({14}) ? raw({1}) : value;
        };
        server.start();
        Rfc2217Port port([&server](qint16) { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.port()); },
                         quickTiming());
        port.setSettings("57600,n,8,1");
        port.setHandshaking(SerialPort::XonXoff);
        const QString failure = openFailure(port);
        QVERIFY2(failure.contains("outbound flow control") && failure.contains("1 (none)")
                     && failure.contains("2 (XON/XOFF)"),
                 qPrintable(failure));
        QVERIFY(!port.portOpen());
        QVERIFY_THROWS_EXCEPTION(SerialError, port.output("x"));

        // The same server on a line without flow control is fine.
        port.setHandshaking(SerialPort::NoHandshake);
        port.setSettings("9600,n,8,1");
        QCOMPARE(openFailure(port), QString());
        port.output("\r");
        port.setPortOpen(false);
    }

    void connectionFaultsEndInTimeWithAReason_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("reason");
        QTest::newRow("refused") << QStringLiteral("rfc2217://127.0.0.1:CLOSED") << QStringLiteral("refused");
        QTest::newRow("unknown host") << QStringLiteral("rfc2217://no-such-host.invalid:4000")
                                      << QStringLiteral("unknown host no-such-host.invalid");
        QTest::newRow("never negotiates") << QStringLiteral("rfc2217://127.0.0.1:SILENT")
                                          << QStringLiteral("did not take up RFC 2217");
    }
    void connectionFaultsEndInTimeWithAReason()
    {
        QFETCH(QString, address);
        QFETCH(QString, reason);
        // A port nobody listens on, and one that accepts and says nothing.
        const int closed = ::socket(AF_INET, SOCK_STREAM, 0);
        const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (const int fd : {closed, silent})
            QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&where), sizeof where), 0);
        QCOMPARE(::listen(silent, 4), 0);
        auto portOf = [](int fd) {
            sockaddr_in bound{};
            socklen_t length = sizeof bound;
            ::getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &length);
            return ntohs(bound.sin_port);
        };
        const QString name = QString(address).replace("CLOSED", QString::number(portOf(closed))).replace("SILENT", QString::number(portOf(silent)));
        Rfc2217Port port([name](qint16) { return name; }, quickTiming());
        QElapsedTimer elapsed;
        elapsed.start();
        const QString failure = openFailure(port);
        QVERIFY2(failure.contains(reason), qPrintable(failure));
        QVERIFY2(elapsed.elapsed() < 3500, qPrintable(QString::number(elapsed.elapsed())));
        ::close(closed);
        ::close(silent);
    }
};

QTEST_GUILESS_MAIN(Rfc2217Test)
#include "tst_rfc2217.moc"
