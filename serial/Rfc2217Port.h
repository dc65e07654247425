#pragma once

#include "NetworkPortAddress.h"
#include "Rfc2217Line.h"
#include "Rfc2217Codec.h"
#include "SerialPort.h"
#include "SocketOptions.h"

#include <QElapsedTimer>

#include <functional>
#include <memory>

class QHostAddress;
class QTcpSocket;

namespace quobin {

// The bounds of the conversation with a serial server.
struct Rfc2217Timing {
    int connectMsecs = 3000;   // TCP connection, host look-up included
    int negotiateMsecs = 3000; // the server's answer to the COM-PORT option
    int answerMsecs = 3000;    // its acknowledgement of the line settings or a purge
    int drainLimitMsecs = 2000; // what a close or a speed change waits for output at most
    // How long a closed port keeps its session for an open of the same
    // address; a change of line settings then goes over that session.
    int warmMsecs = 1000;
    // The longest the server's FLOWCONTROL-SUSPEND holds what is written.
    int suspendLimitMsecs = 5000;
    KeepAliveTimes keepAlive;
};

// SerialPort on a serial line behind a device server that speaks RFC 2217
// (Telnet with the COM-PORT option). An open connects, negotiates, sets the
// line and waits for every setting to be acknowledged as asked. A close
// waits until what was written has left the server's UART (confirmed by its
// line-state report where it gives one) and keeps the session for a moment:
// an open of the same address within warmMsecs sets the new line on that
// session, so that nothing the controller sends meanwhile is lost. A session
// ends on an open of another address, at the next look after that moment
// (a timer where the thread runs events), and at destruction; it then purges
// what the server holds of the line's input, and of its output only when
// the server has confirmed that all that was written is gone.
class Rfc2217Port : public SerialPort {
public:
    // portNameFor turns a port number into "rfc2217://HOST:PORT" at each
    // open. cancelRequested, where given, ends an open that is still
    // looking up, connecting or negotiating with SerialCancelled.
    explicit Rfc2217Port(std::function<QString(qint16)> portNameFor, Rfc2217Timing timing = {},
                         std::function<bool()> cancelRequested = {});
    ~Rfc2217Port() override;

    void setCommPort(qint16 number) override;
    void setSettings(const QString &settings) override;
    void setHandshaking(qint32 handshake) override;
    void setPortOpen(bool open) override;
    bool portOpen() const override;
    void output(const QByteArray &bytes) override;
    QByteArray input() override;
    qint16 inBufferCount() override;
    void waitForInput(int msecs) override;

private:
    // A setting asked of the server, and what its acknowledgement must say.
    struct Asked {
        quint8 command = 0;
        QByteArray value;
        QString name;
        bool required = true;
    };

    QString server() const;
    void requireOpen() const;
    bool reopenWarm(const NetworkPortAddress &address);
    void openSession();
    void keepWarm();
    void endSession();
    void connectToServer();
    void connectTo(const QHostAddress &address, const QElapsedTimer &connecting);
    void negotiate();
    void applyLine();
    void ask(const QList<Asked> &asked);
    void settleAnswers();
    bool sameInboundXonXoff(const Asked &asked, const Rfc2217Codec::Answer &answer) const;
    void purge();
    void drain();
    bool transmitterConfirmedEmpty() const;
    void disconnect();
    void checkCancel() const;
    // Reads what the server has sent, waiting up to msecs when nothing has
    // come; answers its negotiation, matches its answers and sends what a
    // suspend held back. Throws when the connection is gone and no data is
    // left to read.
    void pull(int msecs);
    bool waitUntil(const std::function<bool()> &done, qint64 msecs);
    // Sends bytes, dataBytes of them the line's data, or holds them while
    // the server has suspended the client.
    void send(const QByteArray &bytes, qsizetype dataBytes = 0);
    void sendHeld();
    bool suspended() const;
    void write(const QByteArray &bytes, qsizetype dataBytes);
    [[noreturn]] void lost();

    std::function<QString(qint16)> m_portNameFor;
    Rfc2217Timing m_timing;
    std::function<bool()> m_cancelRequested;
    std::unique_ptr<QTcpSocket> m_socket;
    Rfc2217Codec m_codec;
    NetworkPortAddress m_address;
    qint16 m_commPort = 1;
    Rfc2217Line m_line;
    qint32 m_handshake = NoHandshake;
    bool m_open = false;
    // Counts sessions and closes, so that a late timer leaves a newer one be.
    quint64 m_generation = 0;
    qint64 m_warmUntil = 0;
    QList<Asked> m_awaited;
    QList<quint8> m_controlAnswers; // SET-CONTROL answers that matched, in order
    QByteArray m_held;              // what a suspend holds back, ready for the wire
    qsizetype m_heldData = 0;       // the line's data bytes in it
    qint64 m_suspendedAt = -1;

    // Drain bookkeeping, on m_clock's milliseconds: when the server's UART
    // is done with what was written, by its wire time; the round trip of the
    // last acknowledgement; the line-state reports seen at the last write;
    // and whether written data is still unconfirmed by a report.
    QElapsedTimer m_clock;
    double m_wireBusyUntil = 0;
    qint64 m_roundTripMsecs = 0;
    int m_reportsAtLastWrite = 0;
    bool m_reportsTransmitter = false;
    bool m_unconfirmed = false;
    bool m_wroteSinceDrain = false;
    qint64 m_lastHeardAt = 0;
    bool m_opening = false; // between the connection and the acknowledged line
};

} // namespace quobin
