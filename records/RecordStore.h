#pragma once

#include "BoardRecord.h"
#include "RecordFilter.h"
#include "SerialUse.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <algorithm>

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

    // For a reader that shows the records a page at a time. A store over a
    // database answers each in SQL; these defaults go through read().
    // Up to limit records that match, newest first, after skipping offset.
    virtual QList<BoardRecord> newestPage(const RecordFilter &filter, int offset, int limit)
    {
        QList<BoardRecord> page;
        const QList<BoardRecord> all = read();
        int skipped = 0;
        for (auto it = all.crbegin(); it != all.crend() && page.size() < limit; ++it) {
            if (!filter.matches(*it))
                continue;
            if (skipped++ >= offset)
                page.append(*it);
        }
        return page;
    }
    // The number of records that match.
    virtual int countMatching(const RecordFilter &filter)
    {
        const QList<BoardRecord> all = read();
        return int(std::count_if(all.cbegin(), all.cend(), [&](const BoardRecord &r) { return filter.matches(r); }));
    }
    // Every record that matches, oldest first.
    virtual QList<BoardRecord> matching(const RecordFilter &filter)
    {
        QList<BoardRecord> found;
        for (const BoardRecord &record : read())
            if (filter.matches(record))
                found.append(record);
        return found;
    }
    // Every slot and every result that some record has, sorted.
    virtual QStringList slotNames()
    {
        QStringList names;
        for (const BoardRecord &record : read())
            if (!names.contains(record.slot))
                names << record.slot;
        names.sort();
        return names;
    }
    virtual QStringList resultNames()
    {
        QStringList names;
        for (const BoardRecord &record : read())
            if (!names.contains(record.result))
                names << record.result;
        names.sort();
        return names;
    }

    // What the serial counters know of each series (its step, the numbers
    // given back), for a report of the numbers used. Throws
    // RecordStoreError when they cannot be read.
    virtual QMap<QString, SeriesState> seriesStates() { return {}; }

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
