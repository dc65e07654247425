#pragma once

#include <QSslConfiguration>
#include <QSslServer>

namespace quobin::line {

// The listening socket that the HTTP server is bound to: each connection
// gets its RequestGuard before the server sees it, at most kMaxConnections
// are open at once (more are closed as they come), and with a TLS
// configuration a connection is HTTPS, its handshake bounded in time.
class GuardedServer : public QSslServer {
    Q_OBJECT
public:
    static constexpr int kMaxConnections = 256;

    // Plain HTTP.
    explicit GuardedServer(QObject *parent = nullptr);
    // HTTPS with the configuration's certificate and key.
    GuardedServer(const QSslConfiguration &tls, QObject *parent = nullptr);

protected:
    void incomingConnection(qintptr handle) override;

private:
    void guard(QTcpSocket *socket);

    bool m_tls = false;
    int m_open = 0;
};

} // namespace quobin::line
