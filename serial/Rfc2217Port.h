#pragma once

#include "NetworkPortAddress.h"
#include "Rfc2217Line.h"
#include "Rfc2217Codec.h"
#include "SerialPort.h"

#include <QElapsedTimer>

#include <functional>
#include <memory>

class QTcpSocket;

namespace quobin {

// The bounds of the conversation with a serial server.
struct Rfc2217Timing {
    int connectMsecs = 3000;   // TCP connection, host look-up included
    int negotiateMsecs = 3000; // the server's answer to the COM-PORT option
    int answerMsecs = 3000;    // its acknowledgement of the line settings or a purge
    int drainLimitMsecs = 2000; // what a close or a speed change waits for output at most
};

// SerialPort on a serial line behind a device server that speaks RFC 2217
// (Telnet with the COM-PORT option). Each open connects, negotiates, sets the
// line and waits for every setting to be acknowledged as asked; each close
// waits for what was written to leave the server's UART, purges what the
// server still holds and disconnects.
class Rfc2217Port : public SerialPort {
public:
    // portNameFor turns a port number into "rfc2217://HOST:PORT" at each open.
    explicit Rfc2217Port(std::function<QString(qint16)> portNameFor, Rfc2217Timing timing = {});
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
    void connectToServer();
    void negotiate();
    void applyLine();
    void ask(const QList<Asked> &asked);
    void settleAnswers();
    bool sameInboundXonXoff(const Asked &asked, const Rfc2217Codec::Answer &answer) const;
    void purge();
    void drain();
    void disconnect();
    // Reads what the server has sent, waiting up to msecs when nothing has
    // come; answers its negotiation. Throws when the connection is gone and
    // no data is left to read.
    void pull(int msecs);
    bool waitUntil(const std::function<bool()> &done, qint64 msecs);
    void send(const QByteArray &bytes);
    [[noreturn]] void lost();

    std::function<QString(qint16)> m_portNameFor;
    Rfc2217Timing m_timing;
    std::unique_ptr<QTcpSocket> m_socket;
    Rfc2217Codec m_codec;
    NetworkPortAddress m_address;
    qint16 m_commPort = 1;
    Rfc2217Line m_line;
    qint32 m_handshake = NoHandshake;
    QList<Asked> m_awaited;
    QList<quint8> m_controlAnswers; // SET-CONTROL answers that matched, in order

    // Drain bookkeeping, on m_clock's milliseconds: when the server's UART
    // is done with what was written, by its wire time; the round trip of the
    // last acknowledgement; and the line-state reports seen at the last write.
    QElapsedTimer m_clock;
    double m_wireBusyUntil = 0;
    qint64 m_roundTripMsecs = 0;
    int m_reportsAtLastWrite = 0;
    bool m_reportsShiftRegister = false;
    bool m_wroteSinceDrain = false;
    bool m_opening = false; // between the connection and the acknowledged line
};

} // namespace quobin
