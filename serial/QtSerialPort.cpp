#include "QtSerialPort.h"

#include "DeviceAccess.h"
#include "LineSettings.h"
#include "SerialError.h"

#include <QElapsedTimer>
#include <QThread>

#ifdef Q_OS_UNIX
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <linux/serial.h>
#endif

namespace quobin {

namespace {

// How long a close may wait for queued output to leave (a device holding
// XOFF could otherwise keep it forever).
constexpr int kDrainLimitMsecs = 2000;
// What a serial device may still hold in its own transmit buffer once the
// driver has handed it everything (a 16550 holds 16 bytes, USB adapters up
// to a few hundred).
constexpr qint64 kDeviceBufferBytes = 256;

[[noreturn]] void fail(const QString &what, const QSerialPort &port)
{
    throw SerialError((what + QStringLiteral(": ") + port.errorString()).toStdString());
}

} // namespace

QtSerialPort::QtSerialPort(std::function<QString(qint16)> portNameFor,
                           std::unique_ptr<TransmitQueue> transmitQueue)
    : m_portNameFor(std::move(portNameFor)), m_transmitQueue(std::move(transmitQueue))
{
}

QtSerialPort::~QtSerialPort()
{
    try {
        setPortOpen(false);
    } catch (const SerialError &) {
        // The port goes away with this object either way.
    }
}

void QtSerialPort::setCommPort(qint16 number)
{
    if (m_port.isOpen())
        throw SerialError("the port number cannot change while the port is open");
    if (number < 1)
        throw SerialError("no serial port number " + std::to_string(number));
    m_commPort = number;
}

void QtSerialPort::setSettings(const QString &settings)
{
    const LineSettings line = LineSettings::parse(settings);
    if (!m_port.setBaudRate(line.baud) || !m_port.setParity(line.parity)
        || !m_port.setDataBits(line.dataBits) || !m_port.setStopBits(line.stopBits))
        fail(QStringLiteral("cannot apply line settings ") + settings, m_port);
}

void QtSerialPort::setHandshaking(qint32 handshake)
{
    if (handshake != NoHandshake && handshake != XonXoff)
        throw SerialError("unknown handshaking " + std::to_string(handshake));
    m_handshake = handshake;
    if (!m_port.setFlowControl(handshake == XonXoff ? QSerialPort::SoftwareControl
                                                     : QSerialPort::NoFlowControl))
        fail(QStringLiteral("cannot set flow control"), m_port);
    if (m_port.isOpen())
        onlyXonResumes();
}

void QtSerialPort::setPortOpen(bool open)
{
    if (!open) {
        if (!m_port.isOpen())
            return;
        drainOutput();
        m_port.close();
        return;
    }
    if (m_port.isOpen())
        throw SerialError("the port is already open");
    const QString device = m_portNameFor(m_commPort);
    m_port.setPortName(device);
    m_port.clearError();
    if (!m_port.open(QIODevice::ReadWrite)) {
        // The library's own text says little ("Permission error" for a port
        // another program holds, too): say which it was.
        throw SerialError(whyNotOpened(device, m_port.error() == QSerialPort::PermissionError,
                                       QStringLiteral("cannot open %1: %2").arg(device, m_port.errorString()))
                              .toStdString());
    }
    m_bytesSinceOpen = 0;
    onlyXonResumes();
    requestLowLatency();
}

bool QtSerialPort::portOpen() const
{
    return m_port.isOpen();
}

void QtSerialPort::output(const QByteArray &bytes)
{
    requireOpen();
    if (m_port.write(bytes) != bytes.size())
        fail(QStringLiteral("cannot write"), m_port);
    m_bytesSinceOpen += bytes.size();
    pushOutput();
}

QByteArray QtSerialPort::input()
{
    pullFromKernel();
    return m_port.readAll();
}

qint16 QtSerialPort::inBufferCount()
{
    pullFromKernel();
    return qint16(qMin<qint64>(m_port.bytesAvailable(), 32767));
}

void QtSerialPort::waitForInput(int msecs)
{
    pullFromKernel();
    if (m_port.bytesAvailable() > 0)
        return;
    if (!m_port.waitForReadyRead(msecs)) {
        throwIfVanished();
        m_port.clearError();
    }
    // A hang-up can end the wait without a byte: say so now, so that the
    // next pass does not start on a device that has gone.
    bytesInKernel();
}

void QtSerialPort::requireOpen() const
{
    if (!m_port.isOpen())
        throw SerialError("the port is not open");
}

void QtSerialPort::throwIfVanished()
{
    if (m_port.error() == QSerialPort::ResourceError)
        fail(QStringLiteral("the device is gone"), m_port);
}

// The bytes the kernel has received and Qt has not taken yet. A device that
// has gone (a USB adapter pulled out, the far end of a pseudo-terminal
// closed) cannot be asked, or reports a hang-up with nothing left to read:
// both raise, so that no wait spins or sleeps on it.
int QtSerialPort::bytesInKernel()
{
#ifdef Q_OS_UNIX
    const int fd = int(m_port.handle());
    int waiting = 0;
    if (::ioctl(fd, FIONREAD, &waiting) != 0)
        throw SerialError("the device is gone: its receive queue cannot be read");
    if (waiting > 0)
        return waiting;
    pollfd state{fd, POLLIN, 0};
    if (::poll(&state, 1, 0) == 1 && (state.revents & (POLLHUP | POLLERR | POLLNVAL)))
        throw SerialError("the device is gone: hang-up or error on the port");
    return 0;
#else
    return 0;
#endif
}

// Qt moves bytes from the kernel into its own buffer only from its event loop
// or its blocking waits. Take in whatever the kernel holds, without blocking,
// so that a read sees every byte that has arrived.
void QtSerialPort::pullFromKernel()
{
    requireOpen();
    throwIfVanished();
    pushOutput();
#ifdef Q_OS_UNIX
    while (bytesInKernel() > 0) {
        if (!m_port.waitForReadyRead(0)) {
            throwIfVanished();
            m_port.clearError();
            break;
        }
    }
#endif
}

// write() only queues. Hand the queue to the device whenever it can take it;
// flushing while the device holds XOFF would report a false error, so the
// descriptor is asked first.
void QtSerialPort::pushOutput()
{
    if (m_port.bytesToWrite() == 0)
        return;
#ifdef Q_OS_UNIX
    pollfd writable{int(m_port.handle()), POLLOUT, 0};
    if (::poll(&writable, 1, 0) != 1 || !(writable.revents & POLLOUT))
        return;
#endif
    m_port.flush();
    if (m_port.error() == QSerialPort::WriteError)
        m_port.clearError();
    throwIfVanished();
}

// A close right after a write would drop what is still queued, and the close
// puts back the line settings the port had before it was opened, speed
// included: wait, with a bound, until the device has sent everything, its
// last byte out of the transmitter. What a device held by XOFF still holds at
// the bound is discarded: it would go out when XON came, after the upload
// has ended, and a real UART's close would sit in the kernel's closing wait
// meanwhile. So is what a transmitter still reports once its buffer's wire
// time has passed.
void QtSerialPort::drainOutput()
{
    QElapsedTimer elapsed;
    elapsed.start();
    const auto msecsLeft = [&elapsed] { return kDrainLimitMsecs - elapsed.elapsed(); };
    while (m_port.bytesToWrite() > 0 && msecsLeft() > 0) {
        if (!m_port.waitForBytesWritten(int(msecsLeft()))) {
            if (m_port.error() == QSerialPort::ResourceError)
                return; // the device has gone with whatever it held
            m_port.clearError();
        }
    }
#ifdef Q_OS_UNIX
    const int fd = int(m_port.handle());
    while (m_port.bytesToWrite() == 0 && m_transmitQueue->queued(fd) > 0 && msecsLeft() > 0)
        QThread::usleep(1000);
    if (m_port.bytesToWrite() == 0 && m_transmitQueue->queued(fd) == 0
        && transmitterFinishes(fd, qMin(deviceBufferWireMsecs(), msecsLeft())))
        return;
    m_transmitQueue->discard(fd);
#endif
}

// Once the driver has handed everything over, the device may still hold up
// to its own buffer. Waits at most limitMsecs, that buffer's time on the
// wire, for the transmitter to report empty: some adapters answer the
// question but never report empty, and must not hold every close for the
// whole bound. A device that cannot tell is given the whole time. Returns
// false when the transmitter still reports bytes at the end.
bool QtSerialPort::transmitterFinishes(int fd, qint64 limitMsecs)
{
    QElapsedTimer elapsed;
    elapsed.start();
    for (;;) {
        const std::optional<bool> sent = m_transmitQueue->transmitterEmpty(fd);
        if (!sent) {
            QThread::msleep(ulong(qMax<qint64>(0, limitMsecs - elapsed.elapsed())));
            return true;
        }
        if (*sent)
            return true;
        if (elapsed.elapsed() >= limitMsecs)
            return false;
        QThread::usleep(1000);
    }
}

// The time the device's own transmit buffer needs on the wire: at most
// kDeviceBufferBytes, and never more than was written since the open.
qint64 QtSerialPort::deviceBufferWireMsecs() const
{
    const qint64 bytes = qMin(m_bytesSinceOpen, kDeviceBufferBytes);
    const qint64 baud = qMax<qint64>(m_port.baudRate(), 300);
    return (bytes * 10 * 1000 + baud - 1) / baud;
}

// Qt's software flow control also sets IXANY, which lets any received
// character restart output held by XOFF. The controller expects only XON to
// do that.
void QtSerialPort::onlyXonResumes()
{
#ifdef Q_OS_UNIX
    const int fd = int(m_port.handle());
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        throw SerialError("cannot read the line settings of the port");
    if (tio.c_iflag & IXANY) {
        tio.c_iflag &= ~tcflag_t(IXANY);
        if (::tcsetattr(fd, TCSANOW, &tio) != 0)
            throw SerialError("cannot set the flow control of the port");
    }
#endif
}

// Each line's answer is a single byte; a USB adapter that batches input for
// 16 ms would cap the upload far below the wire speed. Drivers that cannot
// do this simply refuse, which is fine.
void QtSerialPort::requestLowLatency()
{
#ifdef Q_OS_LINUX
    const int fd = int(m_port.handle());
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(fd, TIOCSSERIAL, &serial);
    }
#endif
}

} // namespace quobin
