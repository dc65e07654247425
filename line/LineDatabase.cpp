#include "LineDatabase.h"

#include "RecordSchema.h"
#include "SqliteConnection.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>

namespace quobin::line {

namespace {

// A dead server is noticed within seconds (keepalives) rather than when
// the kernel gives up on the connection.
const char kServerOptions[] =
    "connect_timeout=3;tcp_user_timeout=5000;keepalives_idle=5;keepalives_interval=2;"
    "keepalives_count=2;application_name=quobin-line";
// The page never writes, whatever its SQL says, and a locked or slow server
// holds no read for long.
const char kServerSettings[] = "-c default_transaction_read_only=on -c statement_timeout=5000";

} // namespace

LineDatabase::LineDatabase(const QString &target)
    : m_connectionName(records::uniqueConnectionName("line"))
{
    if (records::ServerTarget::looksLikeServer(target))
        m_server = records::ServerTarget::parse(target);
    else
        m_file = QFileInfo(target).absoluteFilePath();
}

LineDatabase::~LineDatabase()
{
    close();
    m_database = QSqlDatabase();
    if (QSqlDatabase::contains(m_connectionName))
        QSqlDatabase::removeDatabase(m_connectionName);
}

QString LineDatabase::describe() const
{
    return m_server ? m_server->describe() : m_file;
}

bool LineDatabase::isOpen() const
{
    return m_database.isValid() && m_database.isOpen();
}

bool LineDatabase::open()
{
    if (isOpen())
        return true;
    if (!m_database.isValid()) {
        if (m_server) {
            if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
                m_problem = QStringLiteral("Qt SQL has no PostgreSQL driver: install libqt6sql6-psql");
                return false;
            }
            m_database = m_server->addConnection(m_connectionName, QLatin1String(kServerOptions),
                                                 QLatin1String(kServerSettings));
        } else {
            if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
                m_problem = QStringLiteral("Qt SQL has no SQLite driver: install libqt6sql6-sqlite");
                return false;
            }
            QUrl uri = QUrl::fromLocalFile(m_file);
            QUrlQuery query;
            query.addQueryItem(QStringLiteral("mode"), QStringLiteral("ro"));
            uri.setQuery(query);
            m_database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
            m_database.setDatabaseName(uri.toString(QUrl::FullyEncoded));
            m_database.setConnectOptions(
                QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=2000"));
        }
    }
    if (!m_server && !QFileInfo::exists(m_file)) {
        m_problem = QStringLiteral("The records database %1 is not there (yet)").arg(m_file);
        return false;
    }
    if (!m_database.open()) {
        // The server by its host and port only (libpq's reason names them):
        // the log shows no URL.
        m_problem = m_server ? QStringLiteral("Cannot reach the records server: %1")
                                   .arg(records::schema::reasonOf(m_database.lastError()))
                             : QStringLiteral("Cannot open the records database %1: %2")
                                   .arg(m_file, records::schema::reasonOf(m_database.lastError()));
        return false;
    }
    if (m_server)
        records::schema::quietServer(m_database);
    m_problem.clear();
    return true;
}

void LineDatabase::close()
{
    if (m_database.isValid() && m_database.isOpen())
        m_database.close();
}

std::optional<qint64> LineDatabase::dataVersion()
{
    QSqlQuery query(m_database);
    if (!query.exec(QStringLiteral("PRAGMA data_version")) || !query.next())
        return std::nullopt;
    return query.value(0).toLongLong();
}

} // namespace quobin::line
