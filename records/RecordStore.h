#pragma once

#include "BoardRecord.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <stdexcept>

namespace quobin::records {

// A store that cannot be opened, written or read; reason() says why, for
// the operator.
class RecordStoreError : public std::runtime_error {
public:
    explicit RecordStoreError(const QString &reason)
        : std::runtime_error(reason.toStdString()), m_reason(reason) {}
    QString reason() const { return m_reason; }

private:
    QString m_reason;
};

// Records in a local spool waiting for a server, by the server's key.
struct SpoolWaiting {
    QString server;
    int count = 0;
};

// Where board records are kept. Every method may be called from any thread,
// from several at once (a station runs one thread per slot).
class RecordStore {
public:
    virtual ~RecordStore() = default;

    // Keeps the record durably: when this returns, the record survives the
    // process being killed. Throws RecordStoreError when it cannot.
    virtual void commit(const BoardRecord &record) = 0;
    // The records that started at or after since (all when it is null),
    // oldest first. Throws RecordStoreError when they cannot be read.
    virtual QList<BoardRecord> read(const QDateTime &since = {}) = 0;
    // Records kept locally that have not reached the server yet.
    virtual int waitingForServer() const { return 0; }
    // Records that the local spool holds for other servers than this
    // store's (a run that named another server, or the same one by another
    // name): they are sent when a run names that server again.
    virtual QList<SpoolWaiting> spoolsForOtherServers() const { return {}; }
    // Why the server was not reached at the last attempt (unreachable, a
    // wrong password, ...), for the operator; empty while it is reached.
    virtual QString serverProblem() const { return {}; }
    // Where the records go, for the operator: a file path, or a server
    // without its password.
    virtual QString describe() const = 0;
    // The SQLite file on this machine that the store writes (the records
    // themselves, or the spool for a server); a station keeps the records
    // it could not commit in a file beside it.
    virtual QString localFile() const { return {}; }
};

} // namespace quobin::records
