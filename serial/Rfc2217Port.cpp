#include "Rfc2217Port.h"

#include "HostLookup.h"
#include "Rfc2217Line.h"
#include "SerialError.h"
#include "SocketOptions.h"

#include <QStringList>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace quobin {

namespace {

using Codec = Rfc2217Codec;

// The pause between two tries of a server that turned the connection away.
constexpr int kRetryPauseMsecs = 50;
// How often a wait that the operator may cancel looks at the cancel.
constexpr int kCancelCheckMsecs = 50;
// How long after the wire time a server that reports its transmitter is
// given to say that it is empty: a UART that starts late, a busy server.
constexpr int kReportMarginMsecs = 500;
// The most one read takes from the connection.
constexpr qint64 kReadPieceBytes = 64 * 1024;

// A server that closed the connection before the line was set up.
class TurnedAway : public SerialError {
public:
    using SerialError::SerialError;
};

[[noreturn]] void fail(const QString &reason)
{
    throw SerialError(reason.toStdString());
}

QByteArray oneByte(quint8 value)
{
    return QByteArray(1, char(value));
}

QByteArray bigEndian(quint32 value)
{
    QByteArray out;
    for (int shift = 24; shift >= 0; shift -= 8)
        out.append(char(quint8(value >> shift)));
    return out;
}

} // namespace

Rfc2217Port::Rfc2217Port(std::function<QString(qint16)> portNameFor, Rfc2217Timing timing,
                         std::function<bool()> cancelRequested)
    : m_portNameFor(std::move(portNameFor)), m_timing(timing), m_cancelRequested(std::move(cancelRequested))
{
    m_clock.start();
}

Rfc2217Port::~Rfc2217Port()
{
    endSession();
}

void Rfc2217Port::setCommPort(qint16 number)
{
    if (m_open)
        throw SerialError("the port number cannot change while the port is open");
    if (number < 1)
        throw SerialError("no serial port number " + std::to_string(number));
    m_commPort = number;
}

void Rfc2217Port::setSettings(const QString &settings)
{
    const Rfc2217Line line = Rfc2217Line::parse(settings);
    if (!m_open) {
        m_line = line;
        return;
    }
    // What was written goes out at the old speed before the line changes.
    drain();
    m_line = line;
    applyLine();
}

void Rfc2217Port::setHandshaking(qint32 handshake)
{
    if (handshake != NoHandshake && handshake != XonXoff)
        throw SerialError("unknown handshaking " + std::to_string(handshake));
    if (!m_open) {
        m_handshake = handshake;
        return;
    }
    drain();
    m_handshake = handshake;
    applyLine();
}

void Rfc2217Port::setPortOpen(bool open)
{
    if (!open) {
        if (!m_open)
            return;
        try {
            drain();
        } catch (const SerialError &) {
            // A server that has gone takes what it held with it.
            m_open = false;
            endSession();
            return;
        }
        m_open = false;
        keepWarm();
        return;
    }
    if (m_open)
        throw SerialError("the port is already open");
    const NetworkPortAddress address = NetworkPortAddress::parse(m_portNameFor(m_commPort));
    if (reopenWarm(address))
        return;
    endSession();
    m_address = address;
    openSession();
}

bool Rfc2217Port::portOpen() const
{
    return m_open;
}

// The same address within the warm time: the line is set anew on the session
// that stayed, and what the controller has sent since the close is kept for
// the next read. A session the server has ended meanwhile is replaced.
bool Rfc2217Port::reopenWarm(const NetworkPortAddress &address)
{
    if (!m_socket || m_clock.elapsed() > m_warmUntil || address.host != m_address.host
        || address.port != m_address.port)
        return false;
    ++m_generation;
    try {
        m_opening = true;
        pull(0);
        applyLine();
        m_opening = false;
        m_open = true;
        return true;
    } catch (const TurnedAway &) {
        disconnect();
        return false;
    } catch (const SerialError &) {
        disconnect();
        throw;
    }
}

void Rfc2217Port::openSession()
{
    // A server still closing the last connection to its line (ours, a moment
    // ago, or another client's) turns a new one away at once; ser2net says
    // "Port already in use". Try again until the connection's bound.
    QElapsedTimer trying;
    trying.start();
    for (;;) {
        try {
            m_opening = true;
            connectToServer();
            negotiate();
            applyLine();
            m_opening = false;
            m_open = true;
            return;
        } catch (const TurnedAway &away) {
            disconnect();
            if (trying.elapsed() + kRetryPauseMsecs >= m_timing.connectMsecs)
                throw SerialError(away.what());
            QThread::msleep(kRetryPauseMsecs);
            checkCancel();
        } catch (const SerialError &) {
            disconnect();
            throw;
        }
    }
}

// The session stays for an open of the same address. Where the thread runs
// events, a timer ends it once the warm time is over; elsewhere the next
// open, or the end of this port, does.
void Rfc2217Port::keepWarm()
{
    m_warmUntil = m_clock.elapsed() + m_timing.warmMsecs;
    const quint64 generation = ++m_generation;
    QTimer::singleShot(m_timing.warmMsecs, m_socket.get(), [this, generation] {
        if (!m_open && generation == m_generation)
            endSession();
    });
}

// The real end of a session: what the line sent and nobody will read is
// purged, and what was written only once the server has confirmed it gone.
void Rfc2217Port::endSession()
{
    ++m_generation;
    if (!m_socket)
        return;
    try {
        if (m_socket->state() == QAbstractSocket::ConnectedState) {
            if (m_open)
                drain();
            purge();
        }
    } catch (const SerialError &) {
        // A server that has gone takes what it held with it.
    }
    m_open = false;
    disconnect();
}

void Rfc2217Port::output(const QByteArray &bytes)
{
    requireOpen();
    if (bytes.isEmpty())
        return;
    // Reports of the transmitter that have come count as before this write.
    pull(0);
    send(Codec::escaped(bytes), bytes.size());
}

QByteArray Rfc2217Port::input()
{
    requireOpen();
    pull(0);
    QByteArray data;
    data.swap(m_codec.data());
    return data;
}

qint16 Rfc2217Port::inBufferCount()
{
    requireOpen();
    pull(0);
    return qint16(qMin<qsizetype>(m_codec.data().size(), 32767));
}

void Rfc2217Port::waitForInput(int msecs)
{
    requireOpen();
    pull(0);
    if (m_codec.data().isEmpty() && msecs > 0)
        pull(msecs);
}

QString Rfc2217Port::server() const
{
    return QStringLiteral("the serial server at ") + m_address.text();
}

void Rfc2217Port::requireOpen() const
{
    if (!m_open)
        throw SerialError("the port is not open");
}

void Rfc2217Port::checkCancel() const
{
    if (m_cancelRequested && m_cancelRequested())
        throw SerialCancelled(QStringLiteral("cancelled while opening %1").arg(m_address.name()).toStdString());
}

void Rfc2217Port::connectToServer()
{
    m_codec = Rfc2217Codec();
    m_awaited.clear();
    m_controlAnswers.clear();
    m_held.clear();
    m_heldData = 0;
    m_suspendedAt = -1;
    m_unconfirmed = false;
    m_wroteSinceDrain = false;
    m_reportsTransmitter = false;
    QElapsedTimer connecting;
    connecting.start();
    QList<QHostAddress> addresses;
    try {
        addresses = lookUpHost(m_address.host, m_timing.connectMsecs, m_cancelRequested);
    } catch (const SerialCancelled &) {
        throw;
    } catch (const SerialError &error) {
        fail(QStringLiteral("cannot reach %1: %2").arg(server(), QString::fromStdString(error.what())));
    }
    // Each address in turn, as long as the bound allows; the last one's
    // failure tells why.
    for (qsizetype i = 0; i < addresses.size(); ++i) {
        try {
            connectTo(addresses[i], connecting);
            break;
        } catch (const SerialCancelled &) {
            throw;
        } catch (const SerialError &) {
            if (i + 1 == addresses.size() || connecting.elapsed() >= m_timing.connectMsecs)
                throw;
        }
    }
    m_lastHeardAt = m_clock.elapsed();
    // Each line's answer is one byte: no waiting to gather a fuller segment.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // A server that vanishes without a word (power, cable, a crashed box)
    // is noticed within a minute, not after the system's two hours.
    setKeepAlive(m_socket->socketDescriptor(), m_timing.keepAlive);
}

// Connects within what is left of the bound, looking at the cancel as it
// waits.
void Rfc2217Port::connectTo(const QHostAddress &address, const QElapsedTimer &connecting)
{
    const TcpConnect made = connectWithin(address, m_address.port, int(qMax<qint64>(0, m_timing.connectMsecs - connecting.elapsed())),
                                          m_cancelRequested);
    switch (made.end) {
    case TcpConnect::End::Connected:
        m_socket = std::make_unique<QTcpSocket>();
        // What the server sends is taken in pieces of a bounded size: a
        // server that floods cannot make one read of it grow without end.
        m_socket->setReadBufferSize(kReadPieceBytes);
        if (!m_socket->setSocketDescriptor(made.descriptor))
            fail(QStringLiteral("cannot reach %1: %2").arg(server(), m_socket->errorString()));
        return;
    case TcpConnect::End::Cancelled:
        checkCancel();
        throw SerialCancelled("cancelled while connecting");
    case TcpConnect::End::Refused:
        fail(QStringLiteral("cannot reach %1: the connection was refused (nothing listens on port %2)")
                 .arg(server())
                 .arg(m_address.port));
    case TcpConnect::End::TimedOut:
        fail(QStringLiteral("cannot reach %1: no connection within %2 s")
                 .arg(server())
                 .arg(double(m_timing.connectMsecs) / 1000.0, 0, 'g', 3));
    case TcpConnect::End::Failed:
        break;
    }
    fail(QStringLiteral("cannot reach %1: %2").arg(server(), made.reason));
}

void Rfc2217Port::negotiate()
{
    send(Codec::opening());
    const auto settled = [this] {
        return m_codec.comPort() != Codec::Agreement::Pending && m_codec.binaryToServer() != Codec::Agreement::Pending
               && m_codec.binaryFromServer() != Codec::Agreement::Pending;
    };
    const bool answered = waitUntil(settled, m_timing.negotiateMsecs);
    if (m_codec.comPort() == Codec::Agreement::Refused)
        fail(QStringLiteral("%1 refuses to control the serial line (RFC 2217 COM-PORT option)").arg(server()));
    if (!answered)
        fail(QStringLiteral("%1 did not take up RFC 2217 within %2 s: is it a raw TCP port, not an RFC 2217 one?")
                 .arg(server())
                 .arg(double(m_timing.negotiateMsecs) / 1000.0, 0, 'g', 3));
    if (m_codec.binaryToServer() == Codec::Agreement::Refused
        || m_codec.binaryFromServer() == Codec::Agreement::Refused)
        fail(QStringLiteral("%1 refuses binary transfer, which firmware lines need").arg(server()));
}

// The whole line, asked at once and acknowledged one by one. XON/XOFF is set
// for both directions: the controller's XOFF must hold the server's output,
// and the server's must hold the controller.
void Rfc2217Port::applyLine()
{
    const bool xonXoff = m_handshake == XonXoff;
    // What an earlier asking left unanswered and did not need is given up.
    m_awaited.clear();
    m_controlAnswers.clear();
    ask({{Codec::SetBaudRate, bigEndian(m_line.baud), QStringLiteral("baud rate")},
         {Codec::SetDataSize, oneByte(m_line.dataSize), QStringLiteral("data size")},
         {Codec::SetParity, oneByte(m_line.parity), QStringLiteral("parity")},
         {Codec::SetStopSize, oneByte(m_line.stopSize), QStringLiteral("stop bits")},
         {Codec::SetControl, oneByte(xonXoff ? Codec::XonXoffOutbound : Codec::NoFlowOutbound),
          QStringLiteral("outbound flow control")},
         {Codec::SetControl, oneByte(xonXoff ? Codec::XonXoffInbound : Codec::NoFlowInbound),
          QStringLiteral("inbound flow control")},
         // Reports of the transmitter tell a close when the line is done;
         // a server that cannot report is drained by the wire time instead,
         // and its output is never purged.
         {Codec::SetLineStateMask, oneByte(Codec::kShiftRegisterEmpty | Codec::kHoldingRegisterEmpty),
          QStringLiteral("line-state mask"), false}});
}

void Rfc2217Port::ask(const QList<Asked> &asked)
{
    QByteArray commands;
    for (const Asked &setting : asked) {
        commands += Codec::command(setting.command, setting.value);
        m_awaited.append(setting);
    }
    const qint64 sentAt = m_clock.elapsed();
    send(commands);
    const auto requiredPending = [this] {
        settleAnswers();
        return std::none_of(m_awaited.cbegin(), m_awaited.cend(), [](const Asked &a) { return a.required; });
    };
    if (!waitUntil(requiredPending, m_timing.answerMsecs)) {
        const auto missing = std::find_if(m_awaited.cbegin(), m_awaited.cend(), [](const Asked &a) { return a.required; });
        const QString name = missing->name;
        m_awaited.clear();
        fail(QStringLiteral("%1 did not acknowledge the %2 within %3 s")
                 .arg(server(), name)
                 .arg(double(m_timing.answerMsecs) / 1000.0, 0, 'g', 3));
    }
    m_roundTripMsecs = m_clock.elapsed() - sentAt;
}

// A server that applies XON/XOFF to both directions for the outbound value 2,
// as the protocol allows ("outbound/both"), may report its inbound state with
// the hardware code; ser2net 4.3 does, with IXOFF set on the line. Once the
// outbound answer has confirmed XON/XOFF, that report is the XON/XOFF asked
// for. Any other inbound answer still fails.
bool Rfc2217Port::sameInboundXonXoff(const Asked &asked, const Codec::Answer &answer) const
{
    return asked.command == Codec::SetControl && asked.value == oneByte(Codec::XonXoffInbound)
           && answer.value == oneByte(Codec::HardwareInbound) && !m_controlAnswers.isEmpty()
           && m_controlAnswers.last() == Codec::XonXoffOutbound;
}

// Matches the server's answers to what was asked, in order per command, and
// drops every answer that nothing awaits (late, or unasked): only a pending
// question keeps anything. A setting acknowledged with another value than
// asked is a line the upload must not run on.
void Rfc2217Port::settleAnswers()
{
    QList<Codec::Answer> &answers = m_codec.answers();
    while (!answers.isEmpty()) {
        const Codec::Answer answer = answers.takeFirst();
        const auto asked = std::find_if(m_awaited.begin(), m_awaited.end(),
                                        [&answer](const Asked &a) { return a.command == answer.command; });
        if (asked == m_awaited.end())
            continue;
        if (answer.value != asked->value && !sameInboundXonXoff(*asked, answer)) {
            if (asked->required) {
                const Asked wrong = *asked;
                m_awaited.clear();
                answers.clear();
                fail(QStringLiteral("%1 set the %2 to %3 when %4 was asked for")
                         .arg(server(), wrong.name, Rfc2217Line::valueText(answer.value, wrong.command),
                              Rfc2217Line::valueText(wrong.value, wrong.command)));
            }
        } else if (asked->command == Codec::SetLineStateMask) {
            m_reportsTransmitter = true;
        } else if (asked->command == Codec::SetControl) {
            m_controlAnswers.append(quint8(answer.value.isEmpty() ? 0 : answer.value[0]));
        }
        m_awaited.erase(asked);
    }
}

// Drops what the server holds of the line's input, acknowledged before
// anything else goes; and its output too, but only once it has confirmed
// that everything written has left (what remains then is nothing of ours).
// Output that may still be on its way is never purged.
void Rfc2217Port::purge()
{
    const bool outputGone = !m_unconfirmed && m_held.isEmpty();
    ask({{Codec::PurgeData, oneByte(outputGone ? Codec::kPurgeBoth : Codec::kPurgeReceive),
          QStringLiteral("purge of its buffers")}});
}

// Waits until the server's UART has sent what was written: where the server
// reports its transmitter, until it reports it empty after the last write
// (for the wire time and a margin at most); else for the wire time of what
// was written plus one round trip for the bytes to reach it. Bounded either
// way: a line held by XOFF, or a server that never confirms, does not hold
// the close for ever.
void Rfc2217Port::drain()
{
    if (!m_held.isEmpty()) {
        // What the server's suspend holds back goes first.
        waitUntil([this] { return m_held.isEmpty(); }, m_timing.suspendLimitMsecs + kCancelCheckMsecs);
    }
    if (!m_wroteSinceDrain)
        return;
    m_wroteSinceDrain = false;
    const double now = double(m_clock.nsecsElapsed()) / 1e6;
    const qint64 wireLeft = qint64(qMax(0.0, m_wireBusyUntil - now) + 0.999);
    const qint64 estimate = wireLeft + m_roundTripMsecs + 1;
    if (m_reportsTransmitter && m_codec.lineStateReports() > 0) {
        const qint64 limit = qMin<qint64>(m_timing.drainLimitMsecs, estimate + kReportMarginMsecs);
        QElapsedTimer waited;
        waited.start();
        // No report can tell of the end before the wire time has passed.
        waitUntil([] { return false; }, qMin(limit, wireLeft));
        if (waitUntil([this] { return transmitterConfirmedEmpty(); }, qMax<qint64>(0, limit - waited.elapsed())))
            m_unconfirmed = false;
        return;
    }
    waitUntil([] { return false; }, qMin<qint64>(m_timing.drainLimitMsecs, estimate));
}

// A report of an empty transmitter that came after the last write, and no
// sooner than the wire time of what was written: one the server sent before
// the bytes reached it says nothing of them.
bool Rfc2217Port::transmitterConfirmedEmpty() const
{
    return m_codec.lineStateReports() > m_reportsAtLastWrite && m_codec.lineState()
           && (*m_codec.lineState() & Codec::kShiftRegisterEmpty)
           && double(m_clock.nsecsElapsed()) / 1e6 >= m_wireBusyUntil;
}

void Rfc2217Port::disconnect()
{
    m_opening = false;
    m_open = false;
    if (!m_socket)
        return;
    if (m_socket->state() == QAbstractSocket::ConnectedState) {
        m_socket->disconnectFromHost();
        if (m_socket->state() != QAbstractSocket::UnconnectedState)
            m_socket->waitForDisconnected(500);
    }
    m_socket->abort();
    m_socket.reset();
}

void Rfc2217Port::pull(int msecs)
{
    sendHeld();
    if (!m_held.isEmpty() && msecs > 0)
        msecs = int(qBound<qint64>(1, m_suspendedAt + m_timing.suspendLimitMsecs - m_clock.elapsed() + 1, qint64(msecs)));
    if (msecs > 0 && m_socket->bytesAvailable() == 0)
        m_socket->waitForReadyRead(msecs);
    else
        m_socket->waitForReadyRead(0);
    if (m_socket->bytesAvailable() > 0) {
        m_lastHeardAt = m_clock.elapsed();
        m_codec.feed(m_socket->readAll());
        acknowledgeAtOnce(m_socket->socketDescriptor());
        if (m_codec.suspended() && m_suspendedAt < 0)
            m_suspendedAt = m_clock.elapsed();
        else if (!m_codec.suspended())
            m_suspendedAt = -1;
        if (const QByteArray replies = m_codec.takeReplies(); !replies.isEmpty())
            send(replies);
        settleAnswers();
        sendHeld();
    }
    if (m_socket->state() != QAbstractSocket::ConnectedState && (m_codec.data().isEmpty() || m_opening))
        lost();
}

// Waits until done, or msecs have passed. While the port opens, the
// operator's cancel ends the wait.
bool Rfc2217Port::waitUntil(const std::function<bool()> &done, qint64 msecs)
{
    QElapsedTimer elapsed;
    elapsed.start();
    const bool cancellable = m_opening && m_cancelRequested;
    while (!done()) {
        if (cancellable)
            checkCancel();
        const qint64 left = msecs - elapsed.elapsed();
        if (left <= 0)
            return false;
        pull(int(cancellable ? qMin<qint64>(left, kCancelCheckMsecs) : left));
    }
    return true;
}

// RFC 2217: a server's FLOWCONTROL-SUSPEND stops data and commands alike
// until its FLOWCONTROL-RESUME; one that never resumes holds them at most
// the suspend limit.
bool Rfc2217Port::suspended() const
{
    return m_codec.suspended() && m_suspendedAt >= 0 && m_clock.elapsed() - m_suspendedAt < m_timing.suspendLimitMsecs;
}

void Rfc2217Port::send(const QByteArray &bytes, qsizetype dataBytes)
{
    if (suspended() || !m_held.isEmpty()) {
        m_held += bytes;
        m_heldData += dataBytes;
        sendHeld();
        return;
    }
    write(bytes, dataBytes);
}

void Rfc2217Port::sendHeld()
{
    if (m_held.isEmpty() || suspended())
        return;
    const QByteArray held = std::exchange(m_held, {});
    write(held, std::exchange(m_heldData, 0));
}

void Rfc2217Port::write(const QByteArray &bytes, qsizetype dataBytes)
{
    if (m_socket->state() != QAbstractSocket::ConnectedState)
        lost();
    if (m_socket->write(bytes) != bytes.size())
        lost();
    m_socket->flush();
    if (dataBytes == 0)
        return;
    // The server's UART sends these after whatever it still has, at the
    // line's speed.
    const double now = double(m_clock.nsecsElapsed()) / 1e6;
    m_wireBusyUntil = qMax(now, m_wireBusyUntil) + double(dataBytes) * m_line.bitsPerCharacter * 1000.0 / m_line.baud;
    m_reportsAtLastWrite = m_codec.lineStateReports();
    m_wroteSinceDrain = true;
    m_unconfirmed = true;
}

void Rfc2217Port::lost()
{
    if (m_opening) {
        // What the server said before it closed tells why.
        const QString said = QString::fromLatin1(m_codec.data()).simplified();
        m_codec.data().clear();
        throw TurnedAway(QStringLiteral("%1 closed the connection while the line was being set up%2")
                             .arg(server(), said.isEmpty() ? QString() : QStringLiteral(", saying \"%1\"").arg(said.left(80)))
                             .toStdString());
    }
    const QAbstractSocket::SocketError error = m_socket->error();
    QString reason = m_socket->errorString();
    if (error == QAbstractSocket::RemoteHostClosedError || reason.isEmpty()) {
        reason = QStringLiteral("the server closed the connection");
    } else if (error != QAbstractSocket::ConnectionRefusedError
               && m_clock.elapsed() - m_lastHeardAt >= qint64(m_timing.keepAlive.idleSecs) * 1000) {
        // Keep-alive or the unacknowledged-data time gave up on it.
        reason = QStringLiteral("nothing came back from it for %1 s (it or the network went away without a word; %2)")
                     .arg((m_clock.elapsed() - m_lastHeardAt) / 1000)
                     .arg(reason);
    }
    fail(QStringLiteral("the connection to %1 was lost: %2").arg(server(), reason));
}

} // namespace quobin
