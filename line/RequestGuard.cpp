#include "RequestGuard.h"

#include <QTcpSocket>

#include <cctype>

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

namespace {

// RFC 9110's token: the characters of a method and of a field's name.
bool isToken(const QByteArray &text)
{
    if (text.isEmpty())
        return false;
    for (const char c : text)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || QByteArray("!#$%&'*+-.^_`|~").contains(c)))
            return false;
    return true;
}

// "METHOD target HTTP/1.x", the target starting with "/".
bool isRequestLine(const QByteArray &line)
{
    const QList<QByteArray> parts = line.split(' ');
    return parts.size() == 3 && isToken(parts[0]) && parts[1].startsWith('/')
        && (parts[2] == "HTTP/1.1" || parts[2] == "HTTP/1.0");
}

} // namespace

// A head that is not HTTP/1 is refused, and so is one that announces a
// body, before the body comes.
void RequestGuard::headDone()
{
    // Each line up to its CRLF; the blank line's own CRLF is left out.
    QList<QByteArray> lines = m_head.left(m_head.size() - 2).split('\n');
    lines.removeLast();
    for (QByteArray &line : lines) {
        if (!line.endsWith('\r')) {
            refuse(QByteArrayLiteral("400 Bad Request"));
            return;
        }
        line.chop(1);
    }
    if (!isRequestLine(lines.first())) {
        refuse(QByteArrayLiteral("400 Bad Request"));
        return;
    }
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || !isToken(line.left(colon))) {
            refuse(QByteArrayLiteral("400 Bad Request"));
            return;
        }
        const QByteArray name = line.left(colon).toLower();
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
