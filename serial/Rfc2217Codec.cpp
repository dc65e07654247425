#include "Rfc2217Codec.h"

namespace quobin {

namespace {

QByteArray bytes(std::initializer_list<quint8> values)
{
    QByteArray out;
    for (const quint8 value : values)
        out.append(char(value));
    return out;
}

} // namespace

QByteArray Rfc2217Codec::opening()
{
    return bytes({kIac, kWill, kComPort, kIac, kWill, kBinary, kIac, kDo, kBinary});
}

QByteArray Rfc2217Codec::escaped(const QByteArray &data)
{
    if (!data.contains(char(kIac)))
        return data;
    QByteArray out;
    out.reserve(data.size() + 8);
    for (const char byte : data) {
        out.append(byte);
        if (quint8(byte) == kIac)
            out.append(byte);
    }
    return out;
}

QByteArray Rfc2217Codec::command(quint8 command, const QByteArray &value)
{
    return bytes({kIac, kSb, kComPort, command}) + escaped(value) + bytes({kIac, kSe});
}

void Rfc2217Codec::feed(const QByteArray &input)
{
    for (const char ch : input) {
        const quint8 byte = quint8(ch);
        switch (m_state) {
        case State::Data:
            if (byte == kIac)
                m_state = State::Iac;
            else
                m_data.append(ch);
            break;
        case State::Iac:
            if (byte == kIac) {
                m_data.append(ch);
                m_state = State::Data;
            } else if (byte == kSb) {
                m_sub.clear();
                m_subTooLong = false;
                m_state = State::Sub;
            } else if (byte >= kWill) {
                m_verb = byte;
                m_state = State::Verb;
            } else {
                // NOP, Data Mark, Go Ahead, Break and the like: nothing for
                // the serial line.
                m_state = State::Data;
            }
            break;
        case State::Verb:
            negotiate(m_verb, byte);
            m_state = State::Data;
            break;
        case State::Sub:
            if (byte == kIac)
                m_state = State::SubIac;
            else
                appendToSub(ch);
            break;
        case State::SubIac:
            if (byte == kIac) {
                appendToSub(ch);
                m_state = State::Sub;
            } else {
                // IAC SE ends it; any other command after IAC ends a
                // malformed one all the same.
                if (!m_subTooLong)
                    subnegotiation(m_sub);
                m_sub.clear();
                m_subTooLong = false;
                m_state = State::Data;
            }
            break;
        }
    }
}

void Rfc2217Codec::appendToSub(char byte)
{
    if (m_sub.size() < kLongestSubnegotiation)
        m_sub.append(byte);
    else
        m_subTooLong = true;
}

QByteArray Rfc2217Codec::takeReplies()
{
    QByteArray replies;
    replies.swap(m_replies);
    return replies;
}

// The server's side of option negotiation. The options the client asked for
// are answered by the server's agreement or refusal, and need no reply; the
// server may also offer to suppress go-ahead, which costs nothing. Anything
// else is refused: a refusal of an option that is off changes nothing, so
// the exchange cannot loop.
void Rfc2217Codec::negotiate(quint8 verb, quint8 option)
{
    const bool yes = verb == kDo || verb == kWill;
    const Agreement agreement = yes ? Agreement::Agreed : Agreement::Refused;
    if (option == kComPort && (verb == kDo || verb == kDont)) {
        m_comPort = agreement;
        return;
    }
    if (option == kBinary && (verb == kDo || verb == kDont)) {
        m_binaryToServer = agreement;
        return;
    }
    if (option == kBinary && (verb == kWill || verb == kWont)) {
        m_binaryFromServer = agreement;
        return;
    }
    if (option == kSuppressGoAhead && verb == kWill) {
        if (!m_suppressGoAhead)
            m_replies += bytes({kIac, kDo, option});
        m_suppressGoAhead = true;
        return;
    }
    if (verb == kDo)
        m_replies += bytes({kIac, kWont, option});
    else if (verb == kWill)
        m_replies += bytes({kIac, kDont, option});
    else if (option == kSuppressGoAhead && verb == kWont)
        m_suppressGoAhead = false;
}

void Rfc2217Codec::subnegotiation(const QByteArray &sub)
{
    if (sub.size() < 2 || quint8(sub[0]) != kComPort || quint8(sub[1]) <= kServerOffset)
        return;
    const quint8 command = quint8(sub[1]) - kServerOffset;
    const QByteArray value = sub.mid(2);
    if (command == NotifyLineState) {
        if (!value.isEmpty()) {
            m_lineState = quint8(value[0]);
            ++m_lineStateReports;
        }
        return;
    }
    if (command == NotifyModemState)
        return;
    if (command == FlowControlSuspend || command == FlowControlResume) {
        m_suspended = command == FlowControlSuspend;
        return;
    }
    m_answers.append({command, value});
}

} // namespace quobin
