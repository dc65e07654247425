#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

namespace quobin::testing {

// A plain HTTP/1.1 client on 127.0.0.1, one request per connection, that
// sends exactly the bytes it is told (a test's bad requests included).
class HttpProbe {
public:
    struct Reply {
        int status = 0;        // 0: no answer
        QByteArray head;
        QByteArray body;
    };

    explicit HttpProbe(int port) : m_port(port) {}

    static int freePort()
    {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost, 0);
        return server.serverPort();
    }

    Reply get(const QString &path, int timeoutMsecs = 10000) { return request("GET", path, {}, timeoutMsecs); }
    Reply request(const QByteArray &method, const QString &path, const QByteArray &body, int timeoutMsecs = 10000)
    {
        QByteArray raw = method + ' ' + path.toUtf8() + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(m_port)
            + "\r\nConnection: close\r\n";
        if (!body.isEmpty() || method == "POST")
            raw += "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n";
        return send(raw + "\r\n" + body, timeoutMsecs);
    }
    // Sends bytes as they stand; reads the answer until the server closes or
    // its Content-Length has come.
    Reply send(const QByteArray &bytes, int timeoutMsecs = 10000)
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(m_port));
        Reply reply;
        if (!socket.waitForConnected(timeoutMsecs))
            return reply;
        socket.write(bytes);
        QByteArray all;
        const QDeadlineTimer deadline(timeoutMsecs);
        while (!deadline.hasExpired()) {
            if (!socket.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime()))))
                break;
            all += socket.readAll();
            const qsizetype end = all.indexOf("\r\n\r\n");
            if (end < 0)
                continue;
            const QByteArray head = all.left(end);
            const qsizetype at = head.toLower().indexOf("content-length:");
            if (at >= 0) {
                const qsizetype lineEnd = head.indexOf('\r', at);
                const int length = head.mid(at + 15, lineEnd < 0 ? -1 : lineEnd - at - 15).trimmed().toInt();
                if (all.size() >= end + 4 + length)
                    break;
            }
        }
        all += socket.readAll();
        const qsizetype end = all.indexOf("\r\n\r\n");
        if (end < 0)
            return reply;
        reply.head = all.left(end);
        reply.body = all.mid(end + 4);
        reply.status = reply.head.mid(9, 3).toInt();
        return reply;
    }

private:
    int m_port;
};

} // namespace quobin::testing
