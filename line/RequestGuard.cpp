#include "RequestGuard.h"

#include <QTcpSocket>

namespace quobin::line {

RequestGuard::RequestGuard(QTcpSocket *socket)
    : QObject(socket), m_socket(socket)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        if (!m_streaming)
            refuse(m_head.isEmpty() ? QByteArray() : QByteArrayLiteral("408 Request Timeout"));
    });
    // Connected before the server's reader, so that it runs first.
    connect(m_socket, &QIODevice::readyRead, this, &RequestGuard::look);
    m_deadline.start(kHeadMilliseconds);
}

RequestGuard *RequestGuard::of(QTcpSocket *socket)
{
    return socket->findChild<RequestGuard *>(QString(), Qt::FindDirectChildrenOnly);
}

void RequestGuard::setStreaming()
{
    m_streaming = true;
    m_deadline.stop();
}

void RequestGuard::look()
{
    if (m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    // The server's reader takes every byte it is given, so what is
    // there now arrived since the last look.
    const QByteArray fresh = m_socket->peek(m_socket->bytesAvailable());
    if (fresh.isEmpty())
        return;
    if (m_streaming) {
        refuse({});
        return;
    }
    qsizetype from = 0;
    while (from < fresh.size()) {
        if (m_head.isEmpty())
            m_deadline.start(kHeadMilliseconds);
        // Up to the end of the head: a blank line.
        const qsizetype seen = m_head.size();
        m_head += fresh.mid(from);
        const qsizetype searchFrom = std::max<qsizetype>(0, seen - 3);
        const qsizetype end = m_head.indexOf("\r\n\r\n", searchFrom);
        if (end < 0) {
            if (m_head.size() > kMaxHeadBytes)
                refuse(QByteArrayLiteral("431 Request Header Fields Too Large"));
            return;
        }
        if (end + 4 > kMaxHeadBytes) {
            refuse(QByteArrayLiteral("431 Request Header Fields Too Large"));
            return;
        }
        from += end + 4 - seen;
        m_head.truncate(end + 4);
        headDone();
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            return;
        m_head.clear();
        m_deadline.start(kIdleMilliseconds);
    }
}

// A head that announces a body is refused before the body comes.
void RequestGuard::headDone()
{
    const QList<QByteArray> lines = m_head.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "transfer-encoding" || (name == "content-length" && value != "0")) {
            refuse(QByteArrayLiteral("413 Content Too Large"));
            return;
        }
    }
}

void RequestGuard::refuse(const QByteArray &status)
{
    m_deadline.stop();
    if (!status.isEmpty()) {
        m_socket->write("HTTP/1.1 " + status + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        m_socket->flush();
    }
    // The bytes not read yet go with the connection: nothing of them
    // reaches the server's reader.
    m_socket->abort();
}

} // namespace quobin::line
