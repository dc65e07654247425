#pragma once

#include "SerialCounters.h"
#include "SerialPool.h"
#include "WorkerThread.h"

#include <memory>

namespace quobin::records {

class SqliteConnection;

// A series' counter in a station's own SQLite records file, on a
// connection of its own (the file takes one writer at a time; SQLite's busy
// timeout orders this one with the record store's).
class SqliteSerialCounter : public SerialCounter {
public:
    // Opens the file, creating or upgrading its tables; throws
    // RecordStoreError when it cannot be used.
    SqliteSerialCounter(const QString &path, SeriesRule rule);
    ~SqliteSerialCounter() override;

    QList<quint64> take(int count) override;
    void giveBack(const QList<quint64> &numbers) override;

private:
    const QString m_path;
    const SeriesRule m_rule;
    WorkerThread m_worker;
    std::unique_ptr<SqliteConnection> m_connection; // used on m_worker only
};

} // namespace quobin::records
