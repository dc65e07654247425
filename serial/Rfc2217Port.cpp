#include "Rfc2217Port.h"

#include "Rfc2217Line.h"
#include "SerialError.h"

#include <QStringList>
#include <QTcpSocket>
#include <QThread>

#include <algorithm>

namespace quobin {

namespace {

using Codec = Rfc2217Codec;

// The pause between two tries of a server that turned the connection away.
constexpr int kRetryPauseMsecs = 50;

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

Rfc2217Port::Rfc2217Port(std::function<QString(qint16)> portNameFor, Rfc2217Timing timing)
    : m_portNameFor(std::move(portNameFor)), m_timing(timing)
{
    m_clock.start();
}

Rfc2217Port::~Rfc2217Port()
{
    try {
        setPortOpen(false);
    } catch (const SerialError &) {
        // The connection goes away with this object either way.
    }
}

void Rfc2217Port::setCommPort(qint16 number)
{
    if (m_socket)
        throw SerialError("the port number cannot change while the port is open");
    if (number < 1)
        throw SerialError("no serial port number " + std::to_string(number));
    m_commPort = number;
}

void Rfc2217Port::setSettings(const QString &settings)
{
    const Rfc2217Line line = Rfc2217Line::parse(settings);
    if (!m_socket) {
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
    if (!m_socket) {
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
        if (!m_socket)
            return;
        try {
            drain();
            purge();
        } catch (const SerialError &) {
            // A server that has gone takes what it held with it.
        }
        disconnect();
        return;
    }
    if (m_socket)
        throw SerialError("the port is already open");
    m_address = NetworkPortAddress::parse(m_portNameFor(m_commPort));
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
            return;
        } catch (const TurnedAway &away) {
            disconnect();
            if (trying.elapsed() + kRetryPauseMsecs >= m_timing.connectMsecs)
                throw SerialError(away.what());
            QThread::msleep(kRetryPauseMsecs);
        } catch (const SerialError &) {
            disconnect();
            throw;
        }
    }
}

bool Rfc2217Port::portOpen() const
{
    return bool(m_socket);
}

void Rfc2217Port::output(const QByteArray &bytes)
{
    requireOpen();
    if (bytes.isEmpty())
        return;
    send(Codec::escaped(bytes));
    // The server's UART sends these after whatever it still has, at the
    // line's speed.
    const double now = double(m_clock.nsecsElapsed()) / 1e6;
    m_wireBusyUntil = qMax(now, m_wireBusyUntil) + double(bytes.size()) * m_line.bitsPerCharacter * 1000.0 / m_line.baud;
    m_reportsAtLastWrite = m_codec.lineStateReports();
    m_wroteSinceDrain = true;
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
    if (!m_socket)
        throw SerialError("the port is not open");
}

void Rfc2217Port::connectToServer()
{
    m_codec = Rfc2217Codec();
    m_awaited.clear();
    m_controlAnswers.clear();
    m_socket = std::make_unique<QTcpSocket>();
    m_socket->connectToHost(m_address.host, m_address.port);
    if (!m_socket->waitForConnected(m_timing.connectMsecs)) {
        switch (m_socket->error()) {
        case QAbstractSocket::HostNotFoundError:
            fail(QStringLiteral("cannot reach %1: unknown host %2").arg(server(), m_address.host));
        case QAbstractSocket::ConnectionRefusedError:
            fail(QStringLiteral("cannot reach %1: the connection was refused (nothing listens on port %2)")
                     .arg(server())
                     .arg(m_address.port));
        case QAbstractSocket::SocketTimeoutError:
            fail(QStringLiteral("cannot reach %1: no connection within %2 s")
                     .arg(server())
                     .arg(double(m_timing.connectMsecs) / 1000.0, 0, 'g', 3));
        default:
            fail(QStringLiteral("cannot reach %1: %2").arg(server(), m_socket->errorString()));
        }
    }
    // Each line's answer is one byte: no waiting to gather a fuller segment.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
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
    ask({{Codec::SetBaudRate, bigEndian(m_line.baud), QStringLiteral("baud rate")},
         {Codec::SetDataSize, oneByte(m_line.dataSize), QStringLiteral("data size")},
         {Codec::SetParity, oneByte(m_line.parity), QStringLiteral("parity")},
         {Codec::SetStopSize, oneByte(m_line.stopSize), QStringLiteral("stop bits")},
         {Codec::SetControl, oneByte(xonXoff ? Codec::XonXoffOutbound : Codec::NoFlowOutbound),
          QStringLiteral("outbound flow control")},
         {Codec::SetControl, oneByte(xonXoff ? Codec::XonXoffInbound : Codec::NoFlowInbound),
          QStringLiteral("inbound flow control")},
         // Reports of the transmitter tell a close when the line is done;
         // a server that cannot report is drained by the wire time instead.
         {Codec::SetLineStateMask, oneByte(Codec::kShiftRegisterEmpty), QStringLiteral("line-state mask"), false}});
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
        fail(QStringLiteral("%1 did not acknowledge the %2 within %3 s")
                 .arg(server(), missing->name)
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

// Matches the server's answers to what was asked, in order per command. A
// setting acknowledged with another value than asked is a line the upload
// must not run on.
void Rfc2217Port::settleAnswers()
{
    QList<Codec::Answer> &answers = m_codec.answers();
    while (!answers.isEmpty()) {
        const Codec::Answer answer = answers.takeFirst();
        const auto asked = std::find_if(m_awaited.begin(), m_awaited.end(),
                                        [&answer](const Asked &a) { return a.command == answer.command; });
        if (asked == m_awaited.end())
            continue; // an answer to nothing awaited: a late one, or unasked
        if (answer.value != asked->value && !sameInboundXonXoff(*asked, answer)) {
            if (asked->required) {
                const Asked wrong = *asked;
                m_awaited.erase(asked);
                fail(QStringLiteral("%1 set the %2 to %3 when %4 was asked for")
                         .arg(server(), wrong.name, Rfc2217Line::valueText(answer.value, wrong.command),
                              Rfc2217Line::valueText(wrong.value, wrong.command)));
            }
        } else if (asked->command == Codec::SetLineStateMask) {
            m_reportsShiftRegister = true;
        } else if (asked->command == Codec::SetControl) {
            m_controlAnswers.append(quint8(answer.value.isEmpty() ? 0 : answer.value[0]));
        }
        m_awaited.erase(asked);
    }
}

// Drops what the server still holds for the line in either direction (output
// held by XOFF, input not yet sent), acknowledged before anything else goes.
void Rfc2217Port::purge()
{
    ask({{Codec::PurgeData, oneByte(Codec::kPurgeBoth), QStringLiteral("purge of its buffers")}});
}

// Waits until the server's UART has sent what was written: until it reports
// its transmit shift register empty after the last write where it reports
// that, else for the wire time of what was written plus one round trip for
// the bytes to reach it. Bounded either way: a line held by XOFF does not
// hold the close for ever.
void Rfc2217Port::drain()
{
    if (!m_wroteSinceDrain)
        return;
    m_wroteSinceDrain = false;
    const double now = double(m_clock.nsecsElapsed()) / 1e6;
    const qint64 wireLeft = qint64(qMax(0.0, m_wireBusyUntil - now) + 0.999);
    const qint64 limit = qMin<qint64>(m_timing.drainLimitMsecs, wireLeft + m_roundTripMsecs + 1);
    if (m_reportsShiftRegister && m_codec.lineStateReports() > 0) {
        const int before = m_reportsAtLastWrite;
        waitUntil([this, before] {
            return m_codec.lineStateReports() > before && (*m_codec.lineState() & Codec::kShiftRegisterEmpty);
        }, qMin<qint64>(m_timing.drainLimitMsecs, limit + 500));
        return;
    }
    waitUntil([] { return false; }, limit);
}

void Rfc2217Port::disconnect()
{
    m_opening = false;
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
    if (msecs > 0 && m_socket->bytesAvailable() == 0)
        m_socket->waitForReadyRead(msecs);
    else
        m_socket->waitForReadyRead(0);
    if (m_socket->bytesAvailable() > 0) {
        m_codec.feed(m_socket->readAll());
        if (const QByteArray replies = m_codec.takeReplies(); !replies.isEmpty())
            send(replies);
    }
    if (m_socket->state() != QAbstractSocket::ConnectedState && (m_codec.data().isEmpty() || m_opening))
        lost();
}

bool Rfc2217Port::waitUntil(const std::function<bool()> &done, qint64 msecs)
{
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        const qint64 left = msecs - elapsed.elapsed();
        if (left <= 0)
            return false;
        pull(int(left));
    }
    return true;
}

void Rfc2217Port::send(const QByteArray &bytes)
{
    if (m_socket->state() != QAbstractSocket::ConnectedState)
        lost();
    if (m_socket->write(bytes) != bytes.size())
        lost();
    m_socket->flush();
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
    QString reason = m_socket->errorString();
    if (m_socket->error() == QAbstractSocket::RemoteHostClosedError || reason.isEmpty())
        reason = QStringLiteral("the server closed the connection");
    fail(QStringLiteral("the connection to %1 was lost: %2").arg(server(), reason));
}

} // namespace quobin
