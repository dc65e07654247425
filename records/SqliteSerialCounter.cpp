#include "SqliteSerialCounter.h"

#include "SqliteConnection.h"

namespace quobin::records {

SqliteSerialCounter::SqliteSerialCounter(const QString &path, SeriesRule rule)
    : m_path(path), m_rule(std::move(rule))
{
    m_worker.run([this] { m_connection = std::make_unique<SqliteConnection>(m_path, false); });
}

SqliteSerialCounter::~SqliteSerialCounter()
{
    m_worker.run([this] { m_connection.reset(); });
}

QList<quint64> SqliteSerialCounter::take(int count)
{
    return m_worker.run([&] { return counters::take(m_connection->database(), m_rule, count, m_path); });
}

void SqliteSerialCounter::giveBack(const QList<quint64> &numbers)
{
    m_worker.run([&] { counters::giveBack(m_connection->database(), m_rule.series, numbers, m_path); });
}

} // namespace quobin::records
