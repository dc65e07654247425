#pragma once

#include "ServerTarget.h"

#include <QString>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

namespace quobin::records {

// The way from the local spool to a PostgreSQL server, on a thread of its
// own: it connects (each attempt bounded by connect_timeout), sends the
// spooled records for its server in the order they were spooled, and takes
// them out of the spool only after the server has stored them. It tries again
// when woken (a new record) and every few seconds while the server is away.
class ServerLink {
public:
    // Starts the thread and makes the first attempt. Throws RecordStoreError
    // when the server answers but refuses the records (a newer schema).
    ServerLink(const ServerTarget &server, const QString &spoolPath);
    ~ServerLink();
    ServerLink(const ServerLink &) = delete;
    ServerLink &operator=(const ServerLink &) = delete;

    // A ticket for the records spooled so far; wake() starts a round that
    // sends them.
    quint64 ticket();
    void wake();
    // Waits until the records of ticket are on the server, at most until
    // the timeout; false when they are not (the server is away or slow).
    bool waitSent(quint64 ticket, std::chrono::milliseconds timeout);
    bool connected();
    // A round has been sending for a while: the server is slow (a lock, a
    // busy disk), and a caller had better not wait for it.
    bool slow();
    // Why the server could not be reached last, empty when it could.
    QString problem() const;

private:
    void loop(std::promise<QString> firstAttempt);
    bool sendSpooled(class SqliteConnection &spool);
    bool connect();
    void disconnect();

    const ServerTarget m_server;
    const QString m_key;
    const QString m_spoolPath;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stopping = false;
    bool m_woken = false;
    bool m_connected = false;
    quint64 m_roundsStarted = 0;
    quint64 m_roundCleared = 0;     // the last round that emptied the spool
    bool m_sending = false;         // a round is under way, since m_sendingSince
    std::chrono::steady_clock::time_point m_sendingSince;
    QString m_problem;

    QString m_connectionName;       // used on the thread only
    std::thread m_thread;
};

} // namespace quobin::records
