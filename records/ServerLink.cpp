#include "ServerLink.h"

#include "MissingDriver.h"

#include "RecordSchema.h"
#include "RecordStore.h"
#include "SqliteConnection.h"

#include <QSqlDatabase>
#include <QSqlError>

namespace quobin::records {

namespace {

using Clock = std::chrono::steady_clock;
// A round every few seconds, to find a server that has come back.
constexpr auto kRetryInterval = std::chrono::seconds(3);
// Never more often than this when new records keep coming.
constexpr auto kFastestRetry = std::chrono::seconds(1);
constexpr int kBatch = 100;

// libpq's own bounds: a connection attempt gives up after connect_timeout
// seconds; sent data that the server does not acknowledge within
// tcp_user_timeout ends the connection, so a pulled cable cannot hold a
// record for minutes.
const char kConnectOptions[] =
    "connect_timeout=3;tcp_user_timeout=5000;keepalives_idle=5;keepalives_interval=2;"
    "keepalives_count=2;application_name=quobin";
// The server's own bound on every statement and on every wait for a lock: a
// table locked for minutes holds the link for a few seconds at a time, the
// records wait in the spool meanwhile, and the link can always be stopped.
const char kStatementBounds[] = "-c statement_timeout=4000 -c lock_timeout=3000";
// A round that has sent for this long means a slow server.
constexpr auto kSlowRound = std::chrono::milliseconds(500);

} // namespace

ServerLink::ServerLink(const ServerTarget &server, const QString &spoolPath)
    : m_server(server), m_key(server.spoolKey()), m_spoolPath(spoolPath)
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        throw RecordStoreError(missingPostgresDriver());
    std::promise<QString> firstAttempt;
    std::future<QString> refused = firstAttempt.get_future();
    m_thread = std::thread([this, promise = std::move(firstAttempt)]() mutable { loop(std::move(promise)); });
    const QString reason = refused.get();
    if (!reason.isEmpty()) {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_changed.notify_all();
        m_thread.join();
        throw RecordStoreError(reason);
    }
}

ServerLink::~ServerLink()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

quint64 ServerLink::ticket()
{
    std::lock_guard lock(m_mutex);
    // Any round that starts from now on sees what is in the spool now.
    return m_roundsStarted + 1;
}

void ServerLink::wake()
{
    {
        std::lock_guard lock(m_mutex);
        m_woken = true;
    }
    m_changed.notify_all();
}

bool ServerLink::waitSent(quint64 ticket, std::chrono::milliseconds timeout)
{
    // Gives up early when the round turns out slow: the record is in the
    // spool, and the board need not wait for a server that hangs.
    const auto deadline = Clock::now() + timeout;
    std::unique_lock lock(m_mutex);
    while (!(m_roundCleared >= ticket || !m_connected || m_stopping) && Clock::now() < deadline) {
        if (m_sending && Clock::now() - m_sendingSince > kSlowRound)
            break;
        m_changed.wait_until(lock, std::min(deadline, Clock::now() + std::chrono::milliseconds(100)));
    }
    return m_roundCleared >= ticket;
}

bool ServerLink::connected()
{
    std::lock_guard lock(m_mutex);
    return m_connected;
}

bool ServerLink::slow()
{
    std::lock_guard lock(m_mutex);
    return m_sending && Clock::now() - m_sendingSince > kSlowRound;
}

QString ServerLink::problem() const
{
    std::lock_guard lock(m_mutex);
    return m_problem;
}

void ServerLink::loop(std::promise<QString> firstAttempt)
{
    m_connectionName = uniqueConnectionName("server");
    m_server.addConnection(m_connectionName, QLatin1String(kConnectOptions), QLatin1String(kStatementBounds));
    std::unique_ptr<SqliteConnection> spool;
    QString refused;
    try {
        spool = std::make_unique<SqliteConnection>(m_spoolPath, true);
        connect();
    } catch (const RecordStoreError &error) {
        refused = error.reason();
        spool.reset(); // the constructor stops the thread
    }
    firstAttempt.set_value(refused);

    auto lastAttempt = Clock::now();
    bool first = true;
    while (spool) {
        std::unique_lock lock(m_mutex);
        if (!first) {
            m_changed.wait_until(lock, lastAttempt + kRetryInterval, [this] { return m_stopping || m_woken; });
            if (!m_stopping && !m_connected)
                m_changed.wait_until(lock, lastAttempt + kFastestRetry, [this] { return m_stopping; });
        }
        first = false;
        if (m_stopping)
            break;
        m_woken = false;
        const quint64 round = ++m_roundsStarted;
        m_sending = true;
        m_sendingSince = Clock::now();
        lock.unlock();

        const bool cleared = sendSpooled(*spool);
        lastAttempt = Clock::now();

        lock.lock();
        m_sending = false;
        if (cleared)
            m_roundCleared = round;
        lock.unlock();
        m_changed.notify_all();
    }
    spool.reset();
    disconnect();
    QSqlDatabase::removeDatabase(m_connectionName);
}

bool ServerLink::sendSpooled(SqliteConnection &spool)
{
    try {
        if (!connect())
            return false;
        QSqlDatabase server = QSqlDatabase::database(m_connectionName, false);
        for (;;) {
            const QList<schema::Spooled> batch = schema::spooled(spool.database(), m_key, kBatch, m_spoolPath);
            if (batch.isEmpty())
                return true;
            // One transaction on the server, then one removal from the spool:
            // a run cut short between the two sends the batch again, which
            // the server ignores.
            if (!server.transaction())
                throw RecordStoreError(QStringLiteral("Cannot write to the records server %1: %2")
                                           .arg(m_key, schema::reasonOf(server.lastError())));
            for (const schema::Spooled &spooled : batch)
                schema::insert(server, spooled.record, m_key);
            if (!server.commit())
                throw RecordStoreError(QStringLiteral("The records server %1 did not store the records: %2")
                                           .arg(m_key, schema::reasonOf(server.lastError())));
            schema::unspoolThrough(spool.database(), m_key, batch.last().sequence, m_spoolPath);
        }
    } catch (const RecordStoreError &error) {
        // Whatever failed, the record stays in the spool for the next round.
        disconnect();
        std::lock_guard lock(m_mutex);
        m_problem = error.reason();
        return false;
    }
}

bool ServerLink::connect()
{
    QSqlDatabase server = QSqlDatabase::database(m_connectionName, false);
    if (server.isOpen()) {
        std::lock_guard lock(m_mutex);
        m_connected = true;
        return true;
    }
    bool opened = server.open();
    QString problem;
    if (opened) {
        try {
            schema::quietServer(server);
            schema::ensure(server, m_key, false);
        } catch (const schema::NewerSchemaError &) {
            server.close();
            throw;
        } catch (const RecordStoreError &error) {
            server.close();
            opened = false;
            problem = error.reason();
        }
    } else {
        problem = QStringLiteral("Cannot reach the records server %1: %2")
                      .arg(m_key, schema::reasonOf(server.lastError()));
    }
    std::lock_guard lock(m_mutex);
    m_connected = opened;
    m_problem = problem;
    return opened;
}

void ServerLink::disconnect()
{
    QSqlDatabase::database(m_connectionName, false).close();
    {
        std::lock_guard lock(m_mutex);
        m_connected = false;
    }
    m_changed.notify_all();
}

} // namespace quobin::records
