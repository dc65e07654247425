#include "ServerSerialCounter.h"

#include "RecordSchema.h"
#include "RecordStore.h"
#include "SqliteConnection.h"

#include <QSqlError>

namespace quobin::records {

namespace {

// As the records' own link: a server that is away is known within seconds.
const char kConnectOptions[] =
    "connect_timeout=3;tcp_user_timeout=5000;keepalives_idle=5;keepalives_interval=2;"
    "keepalives_count=2;application_name=quobin";

} // namespace

ServerSerialCounter::ServerSerialCounter(const ServerTarget &server, SeriesRule rule)
    : m_server(server), m_key(server.describe()), m_rule(std::move(rule))
{
    m_worker.run([this] {
        m_connectionName = uniqueConnectionName("serials");
        // Bounded like the records link: a locked or hung server leaves the
        // slots on their reserved numbers instead of holding them.
        m_database = m_server.addConnection(m_connectionName, QLatin1String(kConnectOptions),
                                            QStringLiteral("-c statement_timeout=4000 -c lock_timeout=3000"));
    });
}

ServerSerialCounter::~ServerSerialCounter()
{
    m_worker.run([this] {
        m_database.close();
        m_database = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connectionName);
    });
}

QSqlDatabase &ServerSerialCounter::open()
{
    return schema::openServer(m_database, m_key);
}

template<typename Work>
auto ServerSerialCounter::onServer(Work &&work)
{
    return m_worker.run([&] {
        try {
            return work(open());
        } catch (const RecordStoreError &) {
            // A server that went away leaves a connection that only fails:
            // the next call connects afresh.
            m_database.close();
            throw;
        }
    });
}

QList<quint64> ServerSerialCounter::take(int count)
{
    return onServer([&](QSqlDatabase &db) { return counters::take(db, m_rule, count, m_key); });
}

void ServerSerialCounter::giveBack(const QList<quint64> &numbers)
{
    onServer([&](QSqlDatabase &db) { counters::giveBack(db, m_rule.series, numbers, m_key); });
}

} // namespace quobin::records
