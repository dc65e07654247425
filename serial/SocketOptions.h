#pragma once

#include <QHostAddress>
#include <QString>
#include <QtGlobal>

#include <functional>

namespace quobin {

// How soon a connection whose far end has gone without a word is noticed:
// after idleSecs of silence the system asks the peer, every intervalSecs,
// and gives up after probes unanswered questions; data written and not
// acknowledged for userTimeoutMsecs ends the connection as well.
struct KeepAliveTimes {
    int idleSecs = 15;
    int intervalSecs = 5;
    int probes = 3;
    int userTimeoutMsecs = 35000;

    // The longest a silent peer goes unnoticed.
    int noticedWithinSecs() const { return idleSecs + intervalSecs * probes; }
};

// Turns keep-alive on for a connected TCP socket with these times, where the
// system lets a program choose them.
void setKeepAlive(qintptr descriptor, const KeepAliveTimes &times);

// Acknowledges what has come at once rather than after the system's
// delayed-ACK time: a server that sends its answers in several small
// writes with Nagle's algorithm on would otherwise hold every answer after
// the first until that time (40 ms on Linux), at each setting. The system
// goes back to delaying, so this is asked after each read.
void acknowledgeAtOnce(qintptr descriptor);

// A TCP connection made within a bound, giving up at once on cancel (the
// socket's own wait for a connection can be neither cut short nor resumed).
struct TcpConnect {
    enum class End { Connected, Refused, TimedOut, Cancelled, Failed };
    End end = End::Failed;
    qintptr descriptor = -1; // the connected socket's, for QTcpSocket to take
    QString reason;          // the system's words, for Failed
};
TcpConnect connectWithin(const QHostAddress &address, quint16 port, int msecs,
                         const std::function<bool()> &cancelRequested);

} // namespace quobin
