#include "GuardedServer.h"

#include "RequestGuard.h"

#include <QSslSocket>
#include <QTcpSocket>

namespace quobin::line {

GuardedServer::GuardedServer(QObject *parent) : QSslServer(parent) {}

GuardedServer::GuardedServer(const QSslConfiguration &tls, QObject *parent)
    : QSslServer(parent), m_tls(true)
{
    setSslConfiguration(tls);
    setHandshakeTimeout(RequestGuard::kHeadMilliseconds);
}

void GuardedServer::incomingConnection(qintptr handle)
{
    if (m_open >= kMaxConnections) {
        QTcpSocket refused;
        refused.setSocketDescriptor(handle);
        refused.abort();
        return;
    }
    // The guard must be connected to the socket before the HTTP server,
    // which takes a socket as soon as it is pending. A plain socket is made
    // here for that; QSslServer makes its QSslSocket itself and makes it
    // pending only after the handshake, so it is guarded just after.
    if (m_tls) {
        QSslServer::incomingConnection(handle);
        for (QTcpSocket *socket : findChildren<QTcpSocket *>(QString(), Qt::FindDirectChildrenOnly))
            if (!RequestGuard::of(socket))
                guard(socket);
        return;
    }
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(handle)) {
        delete socket;
        return;
    }
    guard(socket);
    addPendingConnection(socket);
}

void GuardedServer::guard(QTcpSocket *socket)
{
    new RequestGuard(socket);
    ++m_open;
    connect(socket, &QObject::destroyed, this, [this] { --m_open; });
}

} // namespace quobin::line
