#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <optional>

namespace quobin {

// The bytes of a Telnet connection that carries a serial line with the
// COM-PORT option (RFC 2217), without the socket: what the client sends, and
// what it makes of the server's bytes. Data and commands share one stream;
// an 0xFF data byte travels doubled.
class Rfc2217Codec {
public:
    // Telnet commands and options (RFC 854, 855, 856, 2217).
    static constexpr quint8 kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                            kSe = 240;
    static constexpr quint8 kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;

    // COM-PORT commands from the client; the server answers with the same
    // number plus 100.
    enum Command : quint8 {
        SetBaudRate = 1,
        SetDataSize = 2,
        SetParity = 3,
        SetStopSize = 4,
        SetControl = 5,
        NotifyLineState = 6,
        NotifyModemState = 7,
        FlowControlSuspend = 8,
        FlowControlResume = 9,
        SetLineStateMask = 10,
        SetModemStateMask = 11,
        PurgeData = 12,
    };
    static constexpr quint8 kServerOffset = 100;

    // SET-CONTROL values used here.
    enum Control : quint8 {
        NoFlowOutbound = 1,
        XonXoffOutbound = 2,
        NoFlowInbound = 14,
        XonXoffInbound = 15,
        HardwareInbound = 16,
    };
    // PURGE-DATA: the server's receive buffer (what the line sent and the
    // client has not yet had), or both it and the transmit buffer.
    static constexpr quint8 kPurgeReceive = 1;
    static constexpr quint8 kPurgeBoth = 3;
    // NOTIFY-LINESTATE: the transmit shift register is empty, and the
    // transfer holding register is.
    static constexpr quint8 kShiftRegisterEmpty = 0x40;
    static constexpr quint8 kHoldingRegisterEmpty = 0x20;
    // A subnegotiation longer than any COM-PORT answer is not one: its
    // bytes are dropped rather than held without end, and it is not taken.
    static constexpr qsizetype kLongestSubnegotiation = 64;

    // A COM-PORT answer of the server: the command it answers (without the
    // 100) and its value.
    struct Answer {
        quint8 command = 0;
        QByteArray value;
    };

    // What a server has said to an option the client asked for: nothing yet,
    // agreed or refused.
    enum class Agreement { Pending, Agreed, Refused };

    // The client's opening: WILL COM-PORT-OPTION, and BINARY both ways.
    static QByteArray opening();
    // Data for the wire: every 0xFF doubled.
    static QByteArray escaped(const QByteArray &data);
    // IAC SB COM-PORT-OPTION command value IAC SE, the value escaped.
    static QByteArray command(quint8 command, const QByteArray &value);

    // Takes the server's bytes, in any pieces: data goes to data(), answers
    // to answers(), and what the server asks of options is answered in
    // replies().
    void feed(const QByteArray &bytes);

    // The data received so far and not taken.
    QByteArray &data() { return m_data; }
    // The COM-PORT answers in arrival order, NOTIFY-LINESTATE,
    // NOTIFY-MODEMSTATE and the flow-control messages excluded. The caller
    // takes them as they come: nothing here drops them.
    QList<Answer> &answers() { return m_answers; }
    // Negotiation bytes to send back to the server; taking them empties them.
    QByteArray takeReplies();

    Agreement comPort() const { return m_comPort; }
    Agreement binaryToServer() const { return m_binaryToServer; }
    Agreement binaryFromServer() const { return m_binaryFromServer; }
    // The last line state the server reported, and how many reports came.
    std::optional<quint8> lineState() const { return m_lineState; }
    int lineStateReports() const { return m_lineStateReports; }
    // The server has asked the client to stop sending (FLOWCONTROL-SUSPEND)
    // and not yet let it go on (FLOWCONTROL-RESUME).
    bool suspended() const { return m_suspended; }

private:
    enum class State { Data, Iac, Verb, Sub, SubIac };

    void negotiate(quint8 verb, quint8 option);
    void subnegotiation(const QByteArray &bytes);
    void appendToSub(char byte);

    State m_state = State::Data;
    quint8 m_verb = 0;
    QByteArray m_sub;
    bool m_subTooLong = false;
    QByteArray m_data;
    QList<Answer> m_answers;
    QByteArray m_replies;
    Agreement m_comPort = Agreement::Pending;
    Agreement m_binaryToServer = Agreement::Pending;
    Agreement m_binaryFromServer = Agreement::Pending;
    bool m_suppressGoAhead = false;
    std::optional<quint8> m_lineState;
    int m_lineStateReports = 0;
    bool m_suspended = false;
};

} // namespace quobin
