#pragma once

#include <QObject>

class QSocketNotifier;

namespace quobin {

// SIGTERM and SIGHUP (a logout, a shutdown, the session going away) reach
// the window as received(), on the thread that made this object, instead of
// ending the process at once. The handler only writes a byte into a socket
// pair (async-signal-safe); a notifier on the other end emits the signal.
// The old handlers come back when this object goes.
class TerminationSignal : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignal(QObject *parent = nullptr);
    ~TerminationSignal() override;

signals:
    void received();

private:
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace quobin
