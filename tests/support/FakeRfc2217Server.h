#pragma once

#include <QByteArray>
#include <QList>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quobin::testing {

// A small RFC 2217 server on 127.0.0.1 for what a real one will not do: it
// agrees to the COM-PORT option and BINARY, answers each COM-PORT command as
// answerFor says (the value asked, by default), and records per connection
// the data bytes it received (undoubled) and the baud rate in force when
// each arrived. Runs on a thread of its own with plain blocking sockets, so
// a test may wait for a program without an event loop.
class FakeRfc2217Server {
public:
    struct Connection {
        QByteArray data;            // data bytes as the line would carry them
        QByteArray dataAt57600;     // those that came while 57600 was set
        QByteArray raw;             // every byte as it came
        quint32 baud = 0;
        // With a modelled UART: the bytes that left it, and those of them
        // that left while 9600 was set.
        QByteArray line;
        QByteArray lineAt9600;
        QByteArray dataWhileSuspended; // data that came while the client was suspended
    };

    // The answer's value for a command and the value asked.
    std::function<QByteArray(quint8 command, const QByteArray &value)> answerFor
        = [](quint8, const QByteArray &value) { return value; };
    // Raw bytes sent once the first data byte of a connection arrives.
    QByteArray replyToData;
    // Everything the server sends goes out a byte at a time, as a slow
    // network or a busy server may deliver it: every Telnet sequence split.
    bool trickle = false;
    // A UART behind the server: data leaves it at the baud rate in force,
    // starting this long after it came (-1: no UART, data counts as sent
    // when it comes). A purge of the transmit buffer drops what it still
    // holds. reportsTransmitter: NOTIFY-LINESTATE says when it is empty.
    int uartStartDelayMsecs = -1;
    bool reportsTransmitter = false;
    // Once the first data byte of a connection has come: FLOWCONTROL-SUSPEND,
    // and FLOWCONTROL-RESUME this long after (0: neither).
    int suspendMsecs = 0;
    // Once the first data byte has come: floodUnit sent over and over,
    // floodBytes in all, then floodEnd.
    QByteArray floodUnit;
    qint64 floodBytes = 0;
    QByteArray floodEnd;

    // On 127.0.0.1, or on [::1] with ipv6; listening() tells whether it could.
    explicit FakeRfc2217Server(bool ipv6 = false)
    {
        m_listener = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sockaddr_in6 address6{};
        address6.sin6_family = AF_INET6;
        address6.sin6_addr = in6addr_loopback;
        sockaddr *where = ipv6 ? reinterpret_cast<sockaddr *>(&address6) : reinterpret_cast<sockaddr *>(&address);
        socklen_t length = ipv6 ? sizeof address6 : sizeof address;
        m_listening = ::bind(m_listener, where, length) == 0 && ::listen(m_listener, 4) == 0
                      && ::getsockname(m_listener, where, &length) == 0;
        m_port = ntohs(ipv6 ? address6.sin6_port : address.sin_port);
    }
    bool listening() const { return m_listening; }
    ~FakeRfc2217Server()
    {
        m_stopping = true;
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_listener);
    }

    void start() { m_thread = std::thread([this] { serve(); }); }
    quint16 port() const { return m_port; }
    QList<Connection> connections() const
    {
        std::lock_guard lock(m_mutex);
        return m_connections;
    }

private:
    static constexpr quint8 kIac = 255, kSb = 250, kSe = 240, kWill = 251, kDo = 253;

    void serve()
    {
        while (!m_stopping) {
            pollfd waiting{m_listener, POLLIN, 0};
            if (::poll(&waiting, 1, 50) != 1)
                continue;
            const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            // Each write its own segment, so that a trickle arrives split.
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            {
                std::lock_guard lock(m_mutex);
                m_connections.append(Connection{});
            }
            talk(fd);
            ::close(fd);
        }
    }

    void send(int fd, const QByteArray &bytes)
    {
        if (!trickle) {
            (void)!::write(fd, bytes.constData(), size_t(bytes.size()));
            return;
        }
        for (const char byte : bytes) {
            (void)!::write(fd, &byte, 1);
            ::usleep(300);
        }
    }

    void writeAll(int fd, const QByteArray &bytes)
    {
        for (qsizetype done = 0; done < bytes.size() && !m_stopping;) {
            pollfd writable{fd, POLLOUT, 0};
            if (::poll(&writable, 1, 50) != 1)
                continue;
            const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n <= 0)
                return;
            done += n;
        }
    }

    void talk(int fd)
    {
        enum { Data, Iac, Verb, Sub, SubIac } state = Data;
        QByteArray sub;
        bool replied = false;
        bool flooded = false;
        QByteArray pending; // what the UART still holds
        qint64 uartNextAt = 0;
        qint64 resumeAt = -1;
        bool masked = false;
        const auto now = [] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
                .count();
        };
        const auto byteMsecs = [](quint32 baud) { return baud == 0 ? 1.0 : 10000.0 / baud; };
        double uartClock = 0;
        while (!m_stopping) {
            {
                std::lock_guard lock(m_mutex);
                Connection &connection = m_connections.last();
                // The UART sends what it holds, byte by byte.
                while (!pending.isEmpty() && now() >= uartNextAt) {
                    connection.line.append(pending[0]);
                    if (connection.baud == 9600)
                        connection.lineAt9600.append(pending[0]);
                    pending.remove(0, 1);
                    uartClock += byteMsecs(connection.baud);
                    uartNextAt = qint64(uartClock);
                    if (pending.isEmpty() && reportsTransmitter && masked)
                        send(fd, QByteArray("\xff\xfa,j\x60\xff\xf0", 7));
                }
                if (resumeAt >= 0 && now() >= resumeAt) {
                    resumeAt = -1;
                    send(fd, QByteArray("\xff\xfa,m\xff\xf0", 6));
                }
            }
            pollfd waiting{fd, POLLIN, 0};
            if (::poll(&waiting, 1, pending.isEmpty() && resumeAt < 0 ? 50 : 1) != 1)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            std::lock_guard lock(m_mutex);
            Connection &connection = m_connections.last();
            if (n <= 0) {
                // The client has gone; the UART still sends what it holds.
                connection.line += pending;
                if (connection.baud == 9600)
                    connection.lineAt9600 += pending;
                return;
            }
            const auto carry = [&](char byte) {
                connection.data.append(byte);
                if (connection.baud == 57600)
                    connection.dataAt57600.append(byte);
                if (resumeAt >= 0)
                    connection.dataWhileSuspended.append(byte);
                if (uartStartDelayMsecs < 0) {
                    connection.line.append(byte);
                    if (connection.baud == 9600)
                        connection.lineAt9600.append(byte);
                    return;
                }
                if (pending.isEmpty()) {
                    uartClock = double(now() + uartStartDelayMsecs) + byteMsecs(connection.baud);
                    uartNextAt = qint64(uartClock);
                    if (reportsTransmitter && masked)
                        send(fd, QByteArray("\xff\xfa,j\x00\xff\xf0", 7));
                }
                pending.append(byte);
            };
            connection.raw.append(buffer, n);
            for (ssize_t i = 0; i < n; ++i) {
                const quint8 byte = quint8(buffer[i]);
                switch (state) {
                case Data:
                    if (byte == kIac)
                        state = Iac;
                    else
                        carry(char(byte));
                    break;
                case Iac:
                    if (byte == kIac) {
                        carry(char(byte));
                        state = Data;
                    } else if (byte == kSb) {
                        sub.clear();
                        state = Sub;
                    } else {
                        state = byte >= kWill ? Verb : Data;
                    }
                    break;
                case Verb:
                    // WILL COM-PORT gets DO; DO BINARY gets WILL; WILL BINARY gets DO.
                    if (byte == 44 || byte == 0)
                        send(fd, QByteArray("\xff") + char(byte == 44 ? kDo : kWill) + char(byte)
                                     + (byte == 0 ? QByteArray("\xff\xfd") + char(0) : QByteArray()));
                    state = Data;
                    break;
                case Sub:
                    if (byte == kIac)
                        state = SubIac;
                    else
                        sub.append(char(byte));
                    break;
                case SubIac:
                    if (byte == kIac) {
                        sub.append(char(byte));
                        state = Sub;
                        break;
                    }
                    state = Data;
                    if (sub.size() >= 3 && quint8(sub[0]) == 44) {
                        const quint8 command = quint8(sub[1]);
                        const QByteArray value = sub.mid(2);
                        if (command == 1 && value.size() == 4)
                            connection.baud = quint32(quint8(value[0])) << 24 | quint32(quint8(value[1])) << 16
                                              | quint32(quint8(value[2])) << 8 | quint8(value[3]);
                        if (command == 12 && !value.isEmpty() && (value[0] == 2 || value[0] == 3))
                            pending.clear();
                        QByteArray answer = answerFor(command, value);
                        answer.replace("\xff", "\xff\xff");
                        send(fd, QByteArray("\xff\xfa,") + char(command + 100) + answer + "\xff\xf0");
                        if (command == 10 && reportsTransmitter) {
                            masked = true;
                            send(fd, QByteArray("\xff\xfa,j", 4) + char(pending.isEmpty() ? 0x60 : 0) + "\xff\xf0");
                        }
                    }
                    break;
                }
            }
            if (!replied && !connection.data.isEmpty() && !replyToData.isEmpty()) {
                replied = true;
                send(fd, replyToData);
            }
            if (!flooded && !connection.data.isEmpty()) {
                flooded = true;
                if (suspendMsecs > 0) {
                    send(fd, QByteArray("\xff\xfa,l\xff\xf0", 6));
                    resumeAt = now() + suspendMsecs;
                }
                if (floodBytes > 0) {
                    QByteArray chunk;
                    while (chunk.size() < 65536)
                        chunk += floodUnit;
                    for (qint64 sent = 0; sent < floodBytes && !m_stopping; sent += chunk.size())
                        writeAll(fd, chunk);
                    writeAll(fd, floodEnd);
                }
            }
        }
    }

    int m_listener = -1;
    bool m_listening = false;
    quint16 m_port = 0;
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_mutex;
    QList<Connection> m_connections;
    std::thread m_thread;
};

} // namespace quobin::testing
