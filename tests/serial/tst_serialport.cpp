#include "Clock.h"
#include "ClosePortIfOpen.h"
#include "PollWithDeadline.h"
#include "PortNames.h"
#include "Pty.h"
#include "QtSerialPort.h"
#include "ScriptedPort.h"
#include "SerialError.h"
#include "TransmitQueue.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <thread>

using namespace quobin;
using namespace quobin::testing;

namespace {

constexpr char kXon = 0x11;
constexpr char kXoff = 0x13;

// The device's side of the output queue as the test plays it: a pseudo-
// terminal has no transmitter, so the test says when the device has sent its
// last byte. The driver's queue and the discarding are the real ones.
class PlayedTransmitter : public TransmitQueue {
public:
    struct State {
        std::atomic<bool> sent{false};
        std::atomic<int> discards{0};
    };
    explicit PlayedTransmitter(std::shared_ptr<State> state) : m_state(std::move(state)) {}
    int queued(int fd) override { return m_device.queued(fd); }
    std::optional<bool> transmitterEmpty(int) override { return m_state->sent.load(); }
    void discard(int fd) override
    {
        ++m_state->discards;
        m_device.discard(fd);
    }

private:
    std::shared_ptr<State> m_state;
    DeviceTransmitQueue m_device;
};

// Polls the port, without any event loop, until `count` bytes are waiting.
bool waitUntilWaiting(SerialPort &port, int count, int timeoutMsecs = 2000)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMsecs) {
        if (port.inBufferCount() >= count)
            return true;
        port.waitForInput(20);
    }
    return false;
}

} // namespace

// The real serial layer, on a pseudo-terminal whose far end the test plays.
class SerialPortTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Pty> m_pty;
    std::unique_ptr<QtSerialPort> m_port;

    void openAt(const QString &settings, qint32 handshake)
    {
        m_port->setHandshaking(handshake);
        m_port->setSettings(settings);
        m_port->setCommPort(1);
        m_port->setPortOpen(true);
    }

private slots:
    void init()
    {
        m_pty = std::make_unique<Pty>();
        const QString path = m_pty->path();
        m_port = std::make_unique<QtSerialPort>([path](qint16) { return path; });
    }
    void cleanup()
    {
        m_port.reset();
        m_pty.reset();
    }

    void opensWithTheLineSettingsAndFlowControlAsked()
    {
        openAt("9600,n,8,1", SerialPort::NoHandshake);
        termios t = m_pty->slaveSettings();
        QCOMPARE(cfgetospeed(&t), speed_t(B9600));
        QVERIFY(!(t.c_iflag & (IXON | IXOFF)));
        QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
        QVERIFY(!(t.c_cflag & (PARENB | CSTOPB)));
        m_port->setPortOpen(false);

        openAt("57600,n,8,1", SerialPort::XonXoff);
        t = m_pty->slaveSettings();
        QCOMPARE(cfgetospeed(&t), speed_t(B57600));
        QVERIFY(t.c_iflag & IXON);
        QVERIFY(t.c_iflag & IXOFF);
        // Only XON may resume held output.
        QVERIFY(!(t.c_iflag & IXANY));
    }

    void refusesBadSettingsNumbersAndStates()
    {
        QVERIFY_THROWS_EXCEPTION(SerialError, m_port->setSettings("9600,n,8"));
        QVERIFY_THROWS_EXCEPTION(SerialError, m_port->setSettings("fast,n,8,1"));
        QVERIFY_THROWS_EXCEPTION(SerialError, m_port->setSettings("9600,x,8,1"));
        QVERIFY_THROWS_EXCEPTION(SerialError, m_port->setHandshaking(2));
        QVERIFY_THROWS_EXCEPTION(SerialError, m_port->setCommPort(0));
        QVERIFY_THROWS_EXCEPTION(SerialError, m_port->output("x"));
        QVERIFY_THROWS_EXCEPTION(SerialError, m_port->input());
        openAt("57600,n,8,1", SerialPort::XonXoff);
        QVERIFY_THROWS_EXCEPTION(SerialError, m_port->setPortOpen(true));
        QVERIFY_THROWS_EXCEPTION(SerialError, m_port->setCommPort(2));
    }

    void openingAMissingDeviceFails()
    {
        QtSerialPort port([](qint16) { return QStringLiteral("/dev/quobin-no-such-port"); });
        port.setSettings("9600,n,8,1");
        QVERIFY_THROWS_EXCEPTION(SerialError, port.setPortOpen(true));
        QVERIFY(!port.portOpen());
    }

    void aCloseRightAfterAWriteLosesNothing()
    {
        openAt("9600,n,8,1", SerialPort::NoHandshake);
        const QByteArray command = QByteArray(4000, 'x') + "4*730562\r";
        m_port->output(command);
        m_port->setPortOpen(false);
        QCOMPARE(m_pty->read(command.size()), command);
    }

    void bytesAreSeenWithoutAnEventLoopInOrder()
    {
        openAt("57600,n,8,1", SerialPort::XonXoff);
        QCOMPARE(m_port->inBufferCount(), qint16(0));
        QCOMPARE(m_port->input(), QByteArray());
        m_pty->write("^?V1");
        QVERIFY(waitUntilWaiting(*m_port, 4));
        m_pty->write(".28");
        QVERIFY(waitUntilWaiting(*m_port, 7));
        QCOMPARE(m_port->inBufferCount(), qint16(7));
        QCOMPARE(m_port->input(), QByteArray("^?V1.28"));
        QCOMPARE(m_port->inBufferCount(), qint16(0));
    }

    void xoffHoldsOutputUntilXonAndNothingElseResumesIt()
    {
        openAt("57600,n,8,1", SerialPort::XonXoff);
        m_pty->write(QByteArray(1, kXoff));
        QTest::qWait(50);
        m_port->input();
        m_port->output(":00000001FF");
        QCOMPARE(m_pty->read(1, 300), QByteArray());
        m_pty->write("~");
        QVERIFY(waitUntilWaiting(*m_port, 1));
        QCOMPARE(m_pty->read(1, 300), QByteArray());
        m_pty->write(QByteArray(1, kXon));
        m_port->waitForInput(50);
        QCOMPARE(m_pty->read(11), QByteArray(":00000001FF"));
        // Flow-control characters never reach the reader.
        QCOMPARE(m_port->input(), QByteArray("~"));
    }

    void aVanishedDeviceRaisesInsteadOfSpinning()
    {
        openAt("57600,n,8,1", SerialPort::XonXoff);
        m_pty->hangUp();
        QElapsedTimer timer;
        timer.start();
        bool raised = false;
        try {
            for (int i = 0; i < 100; ++i)
                m_port->waitForInput(50);
        } catch (const SerialError &) {
            raised = true;
        }
        QVERIFY(raised);
        QVERIFY(timer.elapsed() < 1000);
    }

    void aReplyInPiecesIsCollectedUntilTheLineIsQuiet()
    {
        openAt("57600,n,8,1", SerialPort::XonXoff);
        SteadyClock clock;
        PollWithDeadline poll(*m_port, clock);
        m_pty->write("?");
        QVERIFY(waitUntilWaiting(*m_port, 1));
        QByteArray response = m_port->input();
        std::thread device([this] {
            for (const char *piece : {"V1", ".2", "8"}) {
                QThread::msleep(5);
                m_pty->write(piece);
            }
        });
        QElapsedTimer timer;
        timer.start();
        poll.untilQuiet(response, 20, 200);
        const qint64 lasted = timer.elapsed();
        device.join();
        QCOMPARE(response, QByteArray("?V1.28"));
        QVERIFY2(lasted >= 19 && lasted < 200, qPrintable(QString::number(lasted)));

        // A line that never falls quiet ends the wait at its bound.
        std::atomic<bool> stop{false};
        std::thread chatter([&] {
            while (!stop) {
                m_pty->write("x");
                QThread::msleep(5);
            }
        });
        QByteArray noise;
        timer.restart();
        poll.untilQuiet(noise, 20, 200);
        const qint64 bounded = timer.elapsed();
        stop = true;
        chatter.join();
        QVERIFY(noise.size() > 5);
        QVERIFY2(bounded >= 190 && bounded < 1000, qPrintable(QString::number(bounded)));
    }

    void theCloseWaitsUntilTheDeviceHasSentEverything()
    {
        auto transmitter = std::make_shared<PlayedTransmitter::State>();
        const QString path = m_pty->path();
        m_port = std::make_unique<QtSerialPort>([path](qint16) { return path; },
                                                std::make_unique<PlayedTransmitter>(transmitter));
        openAt("9600,n,8,1", SerialPort::NoHandshake);
        // 200 bytes take 209 ms on the wire at 9600 baud.
        const QByteArray bytes = QByteArray(191, 'x') + "4*730562\r";
        m_port->output(bytes);
        // The device shifts the bytes out and has sent its last bit only
        // when the far end has them.
        std::thread device([&] {
            QThread::msleep(150);
            const QByteArray got = m_pty->read(bytes.size());
            transmitter->sent = got == bytes;
        });
        QElapsedTimer timer;
        timer.start();
        m_port->setPortOpen(false);
        const qint64 lasted = timer.elapsed();
        device.join();
        QVERIFY(transmitter->sent);
        QVERIFY2(lasted >= 140 && lasted < 1500, qPrintable(QString::number(lasted)));
        QCOMPARE(transmitter->discards.load(), 0);
    }

    // Some USB adapters answer the line-status request but never report the
    // transmitter empty. Once the driver's queue is empty, such a device gets
    // the wire time of what it may still hold (its buffer, at most what was
    // written), not the close's whole bound.
    void aTransmitterThatNeverReportsEmptyGetsTheWireTimeOfItsBuffer_data()
    {
        QTest::addColumn<int>("written");
        QTest::addColumn<int>("atLeastMsecs");
        QTest::addColumn<int>("belowMsecs");
        // 9 bytes at 9600 baud: 10 ms on the wire.
        QTest::newRow("a short command") << 9 << 0 << 250;
        // 4000 bytes: the device holds at most 256 of them, 267 ms.
        QTest::newRow("more than the device holds") << 4000 << 260 << 1500;
    }
    void aTransmitterThatNeverReportsEmptyGetsTheWireTimeOfItsBuffer()
    {
        QFETCH(int, written);
        QFETCH(int, atLeastMsecs);
        QFETCH(int, belowMsecs);
        auto transmitter = std::make_shared<PlayedTransmitter::State>();
        const QString path = m_pty->path();
        m_port = std::make_unique<QtSerialPort>([path](qint16) { return path; },
                                                std::make_unique<PlayedTransmitter>(transmitter));
        openAt("9600,n,8,1", SerialPort::NoHandshake);
        const QByteArray bytes(written, 'x');
        m_port->output(bytes);
        QByteArray got;
        std::thread device([&] { got = m_pty->read(written); });
        QElapsedTimer timer;
        timer.start();
        m_port->setPortOpen(false);
        const qint64 lasted = timer.elapsed();
        device.join();
        QCOMPARE(got, bytes);
        QVERIFY2(lasted >= atLeastMsecs && lasted < belowMsecs, qPrintable(QString::number(lasted)));
        QCOMPARE(transmitter->discards.load(), 1);
    }

    void aCloseHeldByXoffGivesUpAndDiscardsWhatIsQueued()
    {
        auto transmitter = std::make_shared<PlayedTransmitter::State>();
        const QString path = m_pty->path();
        m_port = std::make_unique<QtSerialPort>([path](qint16) { return path; },
                                                std::make_unique<PlayedTransmitter>(transmitter));
        openAt("57600,n,8,1", SerialPort::XonXoff);
        m_pty->write(QByteArray(1, kXoff));
        QTest::qWait(50);
        m_port->input();
        m_port->output(":00000001FF");
        QElapsedTimer timer;
        timer.start();
        m_port->setPortOpen(false);
        const qint64 lasted = timer.elapsed();
        QVERIFY2(lasted >= 1900 && lasted < 3000, qPrintable(QString::number(lasted)));
        QCOMPARE(transmitter->discards.load(), 1);
        // The old line never goes out, not even once XON comes.
        m_pty->write(QByteArray(1, kXon));
        QCOMPARE(m_pty->read(1, 300), QByteArray());
    }

    void theWaitForAMarkerEndsWithAnErrorWhenTheDeviceGoes()
    {
        // The wait for "^" has no limit and lets events run in its passes;
        // a device pulled out must end it, at once and without spinning.
        openAt("57600,n,8,1", SerialPort::XonXoff);
        SteadyClock clock;
        PollWithDeadline poll(*m_port, clock);
        int passes = 0;
        QTimer wake;
        wake.setSingleShot(true);
        wake.setTimerType(Qt::PreciseTimer);
        const WaitHooks hooks{[] { return false; }, [&](int maxBlockMsecs) {
                                  ++passes;
                                  wake.start(maxBlockMsecs);
                                  QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
                                  wake.stop();
                              }};
        QTimer::singleShot(200, [this] { m_pty->hangUp(); });
        QElapsedTimer timer;
        timer.start();
        QByteArray response;
        bool raised = false;
        try {
            poll.forMarker('^', response, hooks);
        } catch (const SerialError &) {
            raised = true;
        }
        QVERIFY(raised);
        QVERIFY2(timer.elapsed() < 1500, qPrintable(QString::number(timer.elapsed())));
        QVERIFY2(passes < 20, qPrintable(QString::number(passes)));
    }

    void aHangUpIsAnErrorWhereverThePortIsAsked()
    {
        openAt("57600,n,8,1", SerialPort::XonXoff);
        m_pty->hangUp();
        QVERIFY_THROWS_EXCEPTION(SerialError, m_port->inBufferCount());
        QVERIFY_THROWS_EXCEPTION(SerialError, m_port->input());
        QVERIFY_THROWS_EXCEPTION(SerialError, m_port->waitForInput(0));
        // Closing a port whose device has gone neither hangs nor fails.
        QElapsedTimer timer;
        timer.start();
        ClosePortIfOpen(*m_port);
        QVERIFY(!m_port->portOpen());
        QVERIFY(timer.elapsed() < 1000);
    }

    void closePortIfOpenNeverFails()
    {
        ClosePortIfOpen(*m_port);
        QVERIFY(!m_port->portOpen());
        openAt("9600,n,8,1", SerialPort::NoHandshake);
        ClosePortIfOpen(*m_port);
        QVERIFY(!m_port->portOpen());

        ScriptedPort refusing;
        refusing.open = true;
        refusing.failOn = "close";
        ClosePortIfOpen(refusing);
        QCOMPARE(refusing.log, QStringList{"close"});
    }

    void comPortNumbersFindTheirDevice()
    {
        QTemporaryDir folder;
        QVERIFY(QFile::link(m_pty->path(), folder.filePath("com3")));
        QCOMPARE(portNameFor(3, folder.path()), m_pty->path());
        QCOMPARE(portNameFor(1, folder.path()), QStringLiteral("/dev/ttyS0"));
        QCOMPARE(portNameFor(8, folder.path()), QStringLiteral("/dev/ttyS7"));
        QVERIFY_THROWS_EXCEPTION(SerialError, portNameFor(0, folder.path()));
        QVERIFY_THROWS_EXCEPTION(SerialError, portNameFor(-1, folder.path()));

        // A link whose device has gone still names the link, and opening fails.
        QVERIFY(QFile::link("/dev/quobin-gone", folder.filePath("com4")));
        QtSerialPort port([&](qint16 n) { return portNameFor(n, folder.path()); });
        port.setCommPort(4);
        QVERIFY_THROWS_EXCEPTION(SerialError, port.setPortOpen(true));
    }
};

QTEST_GUILESS_MAIN(SerialPortTest)
#include "tst_serialport.moc"
