#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QLocalSocket>
#include <QString>

namespace quobin::testing {

// QEMU's machine protocol (QMP) on its Unix socket: one command at a time,
// each answered before the next is sent; the events that arrive meanwhile
// are kept for waitForEvent().
class QmpClient {
public:
    // Connects and leaves the greeting's capabilities negotiation behind;
    // false with error() set when that fails within timeoutMs.
    bool connectTo(const QString &socketPath, int timeoutMs);

    // Runs command; false with error() set when QEMU refuses it or does not
    // answer within timeoutMs.
    bool execute(const QString &command, const QJsonObject &arguments = {}, int timeoutMs = 10000);
    // Waits for an event named name whose data holds every key of match;
    // takes it from the kept events.
    bool waitForEvent(const QString &name, const QJsonObject &match, int timeoutMs);

    QString error() const { return m_error; }

private:
    // The next message, event or answer; null when none came in time.
    QJsonObject nextMessage(int timeoutMs);
    bool fail(const QString &why);

    QLocalSocket m_socket;
    QByteArray m_pending;
    QList<QJsonObject> m_events;
    QString m_error;
};

} // namespace quobin::testing
