#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

class QTcpSocket;

namespace quobin::line {

// Watches one connection ahead of the HTTP server, which in Qt 6.4 bounds
// neither the time a request may take nor its body: a request's head must
// arrive whole within ten seconds of its first byte and within 16 KiB, a
// head must be HTTP/1's (a request line, then "Name: value" lines), a
// request may carry no body (the page is read-only), and a connection that
// sends nothing for a minute is closed. A connection that breaks a rule is
// answered (408, 413, 431) and closed, so that it holds nothing of the
// others'. An event stream, once started, has no more requests to send.
// It sees the bytes by peeking at them before the server's own reader takes
// them: it is made before the server is handed the socket.
class RequestGuard : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxHeadBytes = 16 * 1024;
    static constexpr int kHeadMilliseconds = 10000;
    static constexpr int kIdleMilliseconds = 60000;

    // Guards socket, as its child.
    explicit RequestGuard(QTcpSocket *socket);

    // The socket carries an event stream from now on.
    void setStreaming();
    static RequestGuard *of(QTcpSocket *socket);

private:
    void look();
    void headDone();
    void refuse(const QByteArray &status);

    QTcpSocket *m_socket;
    QByteArray m_head;     // the request head so far
    bool m_streaming = false;
    QTimer m_deadline;
};

} // namespace quobin::line
