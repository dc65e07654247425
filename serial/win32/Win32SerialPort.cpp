#include "Win32SerialPort.h"

#include "SerialError.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QThread>

#include <windows.h>

#include <cstring>

namespace quobin {

namespace {

// How long a close may wait for queued output to leave (a device holding
// XOFF could otherwise keep it for ever), as on every other system.
constexpr int kDrainLimitMsecs = 2000;
// What a serial device may still hold in its own transmit buffer once the
// driver reports its queue empty (a 16550 holds 16 bytes, USB adapters up to
// a few hundred).
constexpr qint64 kDeviceBufferBytes = 256;
// The driver's queues; XOFF is sent when the receive queue has less than a
// quarter free, XON when it is down to a quarter.
constexpr DWORD kQueueBytes = 4096;

HANDLE handleOf(void *handle)
{
    return static_cast<HANDLE>(handle);
}

QString systemText(DWORD error)
{
    wchar_t *text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                            | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    QString message = length > 0 ? QString::fromWCharArray(text, int(length)).trimmed()
                                 : QStringLiteral("system error %1").arg(error);
    if (text)
        LocalFree(text);
    return message;
}

[[noreturn]] void fail(const QString &what, DWORD error = GetLastError())
{
    throw SerialError((what + QStringLiteral(": ") + systemText(error)).toStdString());
}

[[noreturn]] void gone(DWORD error = GetLastError())
{
    fail(QStringLiteral("the device is gone"), error);
}

// The milliseconds that bytes take on the wire at baud: ten bits a byte.
qint64 wireMsecs(qint64 bytes, quint32 baud)
{
    return baud == 0 ? 0 : (bytes * 10 * 1000 + baud - 1) / baud;
}

} // namespace

// One read or write handed to the driver: its bytes stay alive until it
// completes.
struct Win32SerialPort::PendingIo {
    OVERLAPPED overlapped{};
    QByteArray bytes;
    PendingIo() { overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~PendingIo()
    {
        if (overlapped.hEvent)
            CloseHandle(overlapped.hEvent);
    }
};

Win32SerialPort::Win32SerialPort(std::function<QString(qint16)> portNameFor) : m_portNameFor(std::move(portNameFor))
{
}

Win32SerialPort::~Win32SerialPort()
{
    try {
        setPortOpen(false);
    } catch (const SerialError &) {
        // The port goes away with this object either way.
    }
    closeHandle();
}

Win32SerialPort::LineSettings Win32SerialPort::parseSettings(const QString &text)
{
    const auto refuse = [&text]() -> LineSettings {
        throw SerialError("invalid line settings \"" + text.toStdString() + "\"");
    };
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 4)
        return refuse();
    LineSettings line;
    bool ok = false;
    const int baud = fields[0].trimmed().toInt(&ok);
    if (!ok || baud <= 0)
        return refuse();
    line.baud = quint32(baud);
    const QString parity = fields[1].trimmed().toLower();
    static const QString parities = QStringLiteral("noems"); // in the DCB's order
    if (parity.size() != 1 || !parities.contains(parity))
        return refuse();
    line.parity = quint8(parities.indexOf(parity));
    const int dataBits = fields[2].trimmed().toInt(&ok);
    if (!ok || dataBits < 5 || dataBits > 8)
        return refuse();
    line.dataBits = quint8(dataBits);
    const QString stop = fields[3].trimmed();
    if (stop == QLatin1String("1"))
        line.stopBits = ONESTOPBIT;
    else if (stop == QLatin1String("1.5"))
        line.stopBits = ONE5STOPBITS;
    else if (stop == QLatin1String("2"))
        line.stopBits = TWOSTOPBITS;
    else
        return refuse();
    return line;
}

void Win32SerialPort::setCommPort(qint16 number)
{
    if (m_handle)
        throw SerialError("the port number cannot change while the port is open");
    if (number < 1)
        throw SerialError("no serial port number " + std::to_string(number));
    m_commPort = number;
}

void Win32SerialPort::setSettings(const QString &settings)
{
    m_line = parseSettings(settings);
    if (m_handle)
        applyLine();
}

void Win32SerialPort::setHandshaking(qint32 handshake)
{
    if (handshake != NoHandshake && handshake != XonXoff)
        throw SerialError("unknown handshaking " + std::to_string(handshake));
    m_handshake = handshake;
    if (m_handle)
        applyLine();
}

// The whole line in one DCB: speed and framing, no hardware flow control,
// and XON/XOFF both ways when asked for (only XON resumes output).
void Win32SerialPort::applyLine()
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handleOf(m_handle), &dcb))
        fail(QStringLiteral("cannot read the line settings of the port"));
    dcb.BaudRate = m_line.baud;
    dcb.ByteSize = m_line.dataBits;
    dcb.Parity = m_line.parity;
    dcb.StopBits = m_line.stopBits;
    dcb.fBinary = TRUE;
    dcb.fParity = m_line.parity != NOPARITY;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    const bool xonXoff = m_handshake == XonXoff;
    dcb.fOutX = xonXoff;
    dcb.fInX = xonXoff;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.XonLim = WORD(kQueueBytes / 4);
    dcb.XoffLim = WORD(kQueueBytes / 4);
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(handleOf(m_handle), &dcb))
        fail(QStringLiteral("cannot apply line settings %1,%2,%3,%4")
                 .arg(m_line.baud)
                 .arg(QChar(u"noems"[m_line.parity]))
                 .arg(m_line.dataBits)
                 .arg(m_line.stopBits == ONESTOPBIT ? QStringLiteral("1")
                                                    : m_line.stopBits == ONE5STOPBITS ? QStringLiteral("1.5")
                                                                                      : QStringLiteral("2")));
}

void Win32SerialPort::setPortOpen(bool open)
{
    if (!open) {
        if (!m_handle)
            return;
        try {
            drainOutput();
        } catch (const SerialError &) {
            closeHandle();
            throw;
        }
        closeHandle();
        return;
    }
    if (m_handle)
        throw SerialError("the port is already open");
    m_device = m_portNameFor(m_commPort);
    // \\.\ reaches every COM port, COM10 and beyond included.
    const QString path = m_device.startsWith(QLatin1String("\\\\.\\")) ? m_device : QStringLiteral("\\\\.\\") + m_device;
    HANDLE handle = CreateFileW(reinterpret_cast<LPCWSTR>(path.utf16()), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            throw SerialError((m_device + QStringLiteral(" does not exist")).toStdString());
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
            throw SerialError((m_device + QStringLiteral(" is in use by another program")).toStdString());
        fail(QStringLiteral("cannot open ") + m_device, error);
    }
    m_handle = handle;
    m_received.clear();
    m_readTimeoutsSet = -1;
    m_bytesSinceOpen = 0;
    try {
        SetupComm(handle, kQueueBytes, kQueueBytes);
        applyLine();
        // Writes never time out by themselves: they are queued, and a close
        // waits for them with its own bound.
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = MAXDWORD;
        if (!SetCommTimeouts(handle, &timeouts))
            fail(QStringLiteral("cannot set the timeouts of ") + m_device);
        m_readTimeoutsSet = 0;
    } catch (const SerialError &) {
        closeHandle();
        throw;
    }
}

bool Win32SerialPort::portOpen() const
{
    return m_handle != nullptr;
}

void Win32SerialPort::requireOpen() const
{
    if (!m_handle)
        throw SerialError("the port is not open");
}

void Win32SerialPort::output(const QByteArray &bytes)
{
    requireOpen();
    reapWrites(false, 0);
    if (bytes.isEmpty())
        return;
    auto write = std::make_unique<PendingIo>();
    if (!write->overlapped.hEvent)
        fail(QStringLiteral("cannot write"));
    write->bytes = bytes;
    if (!WriteFile(handleOf(m_handle), write->bytes.constData(), DWORD(write->bytes.size()), nullptr,
                   &write->overlapped)) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING)
            gone(error);
    }
    m_writes.push_back(std::move(write));
    m_bytesSinceOpen += bytes.size();
}

QByteArray Win32SerialPort::input()
{
    requireOpen();
    pullWaiting();
    QByteArray bytes;
    bytes.swap(m_received);
    return bytes;
}

qint16 Win32SerialPort::inBufferCount()
{
    requireOpen();
    pullWaiting();
    return qint16(qMin<qint64>(m_received.size(), 32767));
}

void Win32SerialPort::waitForInput(int msecs)
{
    requireOpen();
    reapWrites(false, 0);
    pullWaiting();
    if (!m_received.isEmpty() || msecs <= 0)
        return;
    // One byte with a total timeout: the read ends with the first byte that
    // arrives, or empty after msecs; what came with it is taken at once.
    char first = 0;
    if (readWithin(&first, 1, quint32(msecs)) == 1) {
        m_received.append(first);
        pullWaiting();
    }
}

// The driver's queues, as ClearCommError reports them; a port that cannot
// say has gone.
quint32 Win32SerialPort::queuedOutput()
{
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handleOf(m_handle), &errors, &status))
        gone();
    return status.cbOutQue;
}

quint32 Win32SerialPort::queuedInput()
{
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handleOf(m_handle), &errors, &status))
        gone();
    return status.cbInQue;
}

// Takes what the driver holds without waiting.
void Win32SerialPort::pullWaiting()
{
    const quint32 waiting = queuedInput();
    if (waiting == 0)
        return;
    QByteArray bytes(qsizetype(waiting), Qt::Uninitialized);
    const qint64 n = readWithin(bytes.data(), bytes.size(), 0);
    m_received.append(bytes.constData(), n);
}

// A read returns what is waiting at once when totalMsecs is 0; otherwise it
// waits up to totalMsecs for the bytes it asks for (waitForInput asks for
// one). A total timeout with no interval timeout is the form that every
// driver, and Wine, honours.
void Win32SerialPort::setReadTimeouts(quint32 totalMsecs)
{
    if (m_readTimeoutsSet == qint64(totalMsecs))
        return;
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = totalMsecs == 0 ? MAXDWORD : 0;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = totalMsecs;
    if (!SetCommTimeouts(handleOf(m_handle), &timeouts))
        gone();
    m_readTimeoutsSet = totalMsecs;
}

qint64 Win32SerialPort::readWithin(char *into, qint64 size, quint32 msecs)
{
    setReadTimeouts(msecs);
    // The read's OVERLAPPED and buffer live on the heap: a read that the
    // driver neither ends nor cancels keeps them, and this thread goes on.
    auto read = std::make_unique<PendingIo>();
    if (!read->overlapped.hEvent)
        fail(QStringLiteral("cannot read"));
    read->bytes.resize(size);
    DWORD n = 0;
    bool ok = ReadFile(handleOf(m_handle), read->bytes.data(), DWORD(size), nullptr, &read->overlapped);
    DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    if (ok || error == ERROR_IO_PENDING) {
        // The driver ends the read at its timeout; the extra second only
        // guards against one that does not, so that no wait is unbounded.
        if (WaitForSingleObject(read->overlapped.hEvent, msecs + 1000) == WAIT_TIMEOUT) {
            CancelIoEx(handleOf(m_handle), &read->overlapped);
            if (WaitForSingleObject(read->overlapped.hEvent, 1000) == WAIT_TIMEOUT) {
                read.release(); // still the driver's: never freed
                throw SerialError("the device is gone: a read neither ended nor could be cancelled");
            }
        }
        ok = GetOverlappedResult(handleOf(m_handle), &read->overlapped, &n, FALSE);
        error = ok ? ERROR_SUCCESS : GetLastError();
    }
    // Cancelled by the guard above, or ended by the read's own timeout
    // (Wine reports that as an error where Windows does not): what came is
    // kept.
    if (!ok && (error == ERROR_OPERATION_ABORTED || error == ERROR_SEM_TIMEOUT || error == ERROR_TIMEOUT
                || error == WAIT_TIMEOUT))
        ok = true;
    if (!ok)
        gone(error);
    std::memcpy(into, read->bytes.constData(), size_t(qMin<qint64>(n, size)));
    return qMin<qint64>(n, size);
}

// Forgets the writes the driver has finished; with wait, waits for all of
// them up to limitMsecs.
void Win32SerialPort::reapWrites(bool wait, int limitMsecs)
{
    QElapsedTimer elapsed;
    elapsed.start();
    while (!m_writes.empty()) {
        PendingIo &write = *m_writes.front();
        if (wait) {
            const qint64 left = limitMsecs - elapsed.elapsed();
            if (left <= 0 || WaitForSingleObject(write.overlapped.hEvent, DWORD(left)) == WAIT_TIMEOUT)
                return;
        }
        DWORD n = 0;
        if (!GetOverlappedResult(handleOf(m_handle), &write.overlapped, &n, FALSE)) {
            const DWORD error = GetLastError();
            if (error == ERROR_IO_INCOMPLETE)
                return;
            m_writes.pop_front();
            gone(error);
        }
        m_writes.pop_front();
    }
}

// Everything written leaves before a close: the driver finishes the writes
// it was given and its output queue runs empty, then the device's own buffer
// has its time on the wire. A device held by XOFF gets at most the drain
// limit; a device that has gone keeps what it held.
void Win32SerialPort::drainOutput()
{
    QElapsedTimer elapsed;
    elapsed.start();
    const auto msecsLeft = [&elapsed] { return kDrainLimitMsecs - elapsed.elapsed(); };
    reapWrites(true, kDrainLimitMsecs);
    while (msecsLeft() > 0) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(handleOf(m_handle), &errors, &status))
            return; // gone with whatever it held
        if (status.cbOutQue == 0)
            break;
        QThread::msleep(ulong(qBound<qint64>(1, wireMsecs(status.cbOutQue, m_line.baud), qMin<qint64>(20, msecsLeft()))));
    }
    const qint64 tail = qMin(wireMsecs(qMin(m_bytesSinceOpen, kDeviceBufferBytes), m_line.baud), msecsLeft());
    if (tail > 0 && m_writes.empty())
        QThread::msleep(ulong(tail));
}

void Win32SerialPort::closeHandle()
{
    if (!m_handle)
        return;
    HANDLE handle = handleOf(m_handle);
    m_handle = nullptr;
    if (!m_writes.empty()) {
        // Cancelled writes must finish before their buffers go; one that
        // the driver does not give back within a second keeps its buffer.
        CancelIoEx(handle, nullptr);
        for (auto &write : m_writes) {
            if (WaitForSingleObject(write->overlapped.hEvent, 1000) == WAIT_TIMEOUT)
                write.release();
        }
        m_writes.clear();
    }
    CloseHandle(handle);
}

} // namespace quobin
