#pragma once

#include "BoardRecord.h"

#include <QList>
#include <QString>

#include <mutex>

namespace quobin::records {
class RecordStore;
}

namespace quobin::station {

// Keeps every board's record until the store has it. A record that the
// store refuses (a full disk, a file locked by another program, a server
// whose spool cannot be written) is held in memory and appended to a side
// file beside the store's local file, so that a killed process still leaves
// it on disk; both are retried until the store takes it. A record left in
// the side file by an earlier run is committed at the next start: a resend
// of a record the store already has is harmless (records are keyed by id).
// Thread-safe: the slots call it at once.
class RecordKeeper {
public:
    // Where a record is while the store does not have it.
    enum class Held {
        Saved,      // committed to the store
        SideFile,   // in memory and in the side file
        MemoryOnly, // in memory only: neither the store nor the side file can be written
    };

    // sideFile empty: no side file (a store with no local file).
    RecordKeeper(records::RecordStore &store, QString sideFile);

    // The side file for a store whose local file is localFile; empty for
    // none.
    static QString sideFileFor(const QString &localFile);

    // Commits the record, else holds it; reason says why the store refused.
    Held keep(const records::BoardRecord &record, QString *reason);
    // Tries to commit every record held; true when none is held any more.
    // Several callers at once: one commits, the others only look.
    bool retry(QString *reason = nullptr);
    bool holds(const QUuid &id) const;
    QList<records::BoardRecord> held() const;

    // Loads what an earlier run left in the side file; the records are then
    // held like the run's own. Returns how many there were.
    int loadLeftOver();
    QString sideFile() const { return m_sideFile; }

private:
    bool rewriteSideFile();

    records::RecordStore &m_store;
    const QString m_sideFile;
    mutable std::mutex m_mutex;
    std::mutex m_retrying;
    QList<records::BoardRecord> m_held;
    QString m_lastReason;
};

} // namespace quobin::station
