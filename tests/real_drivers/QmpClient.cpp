#include "QmpClient.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QThread>

namespace quobin::testing {

bool QmpClient::connectTo(const QString &socketPath, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    // QEMU makes the socket a moment after it starts.
    while (!deadline.hasExpired()) {
        m_socket.connectToServer(socketPath);
        if (m_socket.waitForConnected(int(qMax<qint64>(1, deadline.remainingTime()))))
            break;
        m_socket.abort();
        QThread::msleep(50);
    }
    if (m_socket.state() != QLocalSocket::ConnectedState)
        return fail(QStringLiteral("cannot connect to QEMU's QMP socket %1").arg(socketPath));
    const QJsonObject greeting = nextMessage(int(qMax<qint64>(1, deadline.remainingTime())));
    if (!greeting.contains(QStringLiteral("QMP")))
        return fail(QStringLiteral("QEMU sent no QMP greeting"));
    return execute(QStringLiteral("qmp_capabilities"), {}, timeoutMs);
}

bool QmpClient::execute(const QString &command, const QJsonObject &arguments, int timeoutMs)
{
    QJsonObject request{{QStringLiteral("execute"), command}};
    if (!arguments.isEmpty())
        request.insert(QStringLiteral("arguments"), arguments);
    m_socket.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
    m_socket.flush();
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const QJsonObject message = nextMessage(int(qMax<qint64>(0, deadline.remainingTime())));
        if (message.isEmpty())
            return fail(QStringLiteral("QEMU did not answer %1 within %2 ms").arg(command).arg(timeoutMs));
        if (message.contains(QStringLiteral("event"))) {
            m_events.append(message);
            continue;
        }
        if (message.contains(QStringLiteral("error")))
            return fail(QStringLiteral("QEMU refused %1: %2").arg(command,
                message.value(QStringLiteral("error")).toObject().value(QStringLiteral("desc")).toString()));
        return true;
    }
}

bool QmpClient::waitForEvent(const QString &name, const QJsonObject &match, int timeoutMs)
{
    const auto matches = [&](const QJsonObject &event) {
        if (event.value(QStringLiteral("event")).toString() != name)
            return false;
        const QJsonObject data = event.value(QStringLiteral("data")).toObject();
        for (auto it = match.begin(); it != match.end(); ++it) {
            if (data.value(it.key()) != it.value())
                return false;
        }
        return true;
    };
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        for (qsizetype i = 0; i < m_events.size(); ++i) {
            if (matches(m_events.at(i))) {
                m_events.removeAt(i);
                return true;
            }
        }
        const QJsonObject message = nextMessage(int(qMax<qint64>(0, deadline.remainingTime())));
        if (message.isEmpty())
            return fail(QStringLiteral("no %1 event from QEMU within %2 ms").arg(name).arg(timeoutMs));
        if (message.contains(QStringLiteral("event")))
            m_events.append(message);
    }
}

QJsonObject QmpClient::nextMessage(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const qsizetype end = m_pending.indexOf('\n');
        if (end >= 0) {
            const QByteArray line = m_pending.left(end);
            m_pending.remove(0, end + 1);
            const QJsonDocument document = QJsonDocument::fromJson(line);
            if (document.isObject())
                return document.object();
            continue;
        }
        if (deadline.hasExpired() || m_socket.state() != QLocalSocket::ConnectedState)
            return {};
        if (m_socket.bytesAvailable() == 0)
            m_socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        m_pending += m_socket.readAll();
    }
}

bool QmpClient::fail(const QString &why)
{
    m_error = why;
    return false;
}

} // namespace quobin::testing
