#pragma once

#include "SerialCounters.h"
#include "SerialPool.h"
#include "ServerTarget.h"
#include "WorkerThread.h"

namespace quobin::records {

// A series' counter on the PostgreSQL server that the line's stations
// share, on a connection of its own, on a thread of its own. Each call
// connects when the connection is not open (bounded by connect_timeout) and
// drops the connection when the server fails, so that the next call tries
// afresh.
class ServerSerialCounter : public SerialCounter {
public:
    ServerSerialCounter(const ServerTarget &server, SeriesRule rule);
    ~ServerSerialCounter() override;

    QList<quint64> take(int count) override;
    void giveBack(const QList<quint64> &numbers) override;
    bool remote() const override { return true; }

private:
    // On the worker: the open connection, or RecordStoreError.
    QSqlDatabase &open();
    template<typename Work>
    auto onServer(Work &&work);

    const ServerTarget m_server;
    const QString m_key;
    const SeriesRule m_rule;
    WorkerThread m_worker;
    QString m_connectionName;   // used on m_worker only
    QSqlDatabase m_database;    // used on m_worker only
};

} // namespace quobin::records
