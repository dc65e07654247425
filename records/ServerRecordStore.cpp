#include "ServerRecordStore.h"

#include "RecordSchema.h"
#include "SqliteConnection.h"

#include <QSqlDatabase>
#include <QSqlError>

#include <algorithm>

namespace quobin::records {

namespace {

// How long a commit waits for the server before it leaves the record to
// the spool and returns.
constexpr std::chrono::milliseconds kCommitWait{3000};

} // namespace

ServerRecordStore::ServerRecordStore(const ServerTarget &server, const QString &spoolPath)
    : m_server(server), m_key(server.spoolKey()), m_spoolPath(spoolPath)
{
    m_worker.run([this] { m_spool = std::make_unique<SqliteConnection>(m_spoolPath, true); });
    try {
        m_link = std::make_unique<ServerLink>(m_server, m_spoolPath);
    } catch (...) {
        m_worker.run([this] { m_spool.reset(); });
        throw;
    }
}

ServerRecordStore::~ServerRecordStore()
{
    m_link.reset();
    m_worker.run([this] { m_spool.reset(); });
}

void ServerRecordStore::commit(const BoardRecord &record)
{
    m_worker.run([&] { schema::spool(m_spool->database(), m_key, record, m_spoolPath); });
    const quint64 ticket = m_link->ticket();
    m_link->wake();
    // A slow server (a locked table) would hold every board: the record is
    // safe in the spool, and goes when the server answers again.
    if (m_link->connected() && !m_link->slow())
        m_link->waitSent(ticket, kCommitWait);
}

template<typename Result, typename Work>
Result ServerRecordStore::onReadConnection(Work &&work)
{
    Result result;
    const QString name = uniqueConnectionName("read");
    QSqlDatabase server = m_server.addConnection(name, QStringLiteral("connect_timeout=3;application_name=quobin"),
                                                 QStringLiteral("-c statement_timeout=10000"));
    QString problem;
    if (server.open()) {
        try {
            schema::quietServer(server);
            // A reader changes nothing in a database that has tables: an
            // older schema is read as it is.
            result = work(server, schema::readable(server, m_key));
        } catch (const RecordStoreError &error) {
            problem = error.reason();
        }
        server.close();
    } else {
        problem = QStringLiteral("Cannot reach the records server %1: %2")
                      .arg(m_key, schema::reasonOf(server.lastError()));
    }
    server = QSqlDatabase();
    QSqlDatabase::removeDatabase(name);
    if (!problem.isEmpty())
        throw RecordStoreError(problem);
    return result;
}

QMap<QString, SeriesState> ServerRecordStore::seriesStates()
{
    return onReadConnection<QMap<QString, SeriesState>>(
        [&](QSqlDatabase &db, int found) { return schema::seriesStates(db, m_key, found); });
}

QList<BoardRecord> ServerRecordStore::read(const QDateTime &since)
{
    QList<BoardRecord> records = onReadConnection<QList<BoardRecord>>(
        [&](QSqlDatabase &db, int found) { return schema::select(db, since, m_key, found); });

    // Records still on their way belong to the list too.
    const QList<schema::Spooled> spooled =
        m_worker.run([&] { return schema::spooled(m_spool->database(), m_key, 1 << 30, m_spoolPath); });
    for (const schema::Spooled &waiting : spooled) {
        const bool there = std::any_of(records.cbegin(), records.cend(),
                                       [&](const BoardRecord &r) { return r.id == waiting.record.id; });
        if (!there && (!since.isValid() || waiting.record.started >= since))
            records.append(waiting.record);
    }
    std::stable_sort(records.begin(), records.end(), [](const BoardRecord &a, const BoardRecord &b) {
        if (a.started != b.started)
            return a.started < b.started;
        if (a.ended != b.ended)
            return a.ended < b.ended;
        return a.id.toString(QUuid::WithoutBraces) < b.id.toString(QUuid::WithoutBraces);
    });
    return records;
}

QList<BoardRecord> ServerRecordStore::matching(const RecordFilter &filter)
{
    QList<BoardRecord> records = onReadConnection<QList<BoardRecord>>([&](QSqlDatabase &db, int found) {
        if (found < schema::version) {
            QList<BoardRecord> all = schema::select(db, {}, m_key, found);
            all.removeIf([&](const BoardRecord &r) { return !filter.matches(r); });
            return all;
        }
        return schema::selectMatching(db, filter, m_key);
    });
    const QList<schema::Spooled> spooled =
        m_worker.run([&] { return schema::spooled(m_spool->database(), m_key, 1 << 30, m_spoolPath); });
    for (const schema::Spooled &waiting : spooled) {
        const bool there = std::any_of(records.cbegin(), records.cend(),
                                       [&](const BoardRecord &r) { return r.id == waiting.record.id; });
        if (!there && filter.matches(waiting.record))
            records.append(waiting.record);
    }
    return records;
}

QList<SpoolWaiting> ServerRecordStore::spoolsForOtherServers() const
{
    QList<SpoolWaiting> others = m_worker.run([&] { return schema::spools(m_spool->database(), m_spoolPath); });
    others.removeIf([&](const SpoolWaiting &spool) { return spool.server == m_key; });
    return others;
}

int ServerRecordStore::waitingForServer() const
{
    return m_worker.run([&] { return schema::spooledCount(m_spool->database(), m_key, m_spoolPath); });
}

} // namespace quobin::records
