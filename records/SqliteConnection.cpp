#include "SqliteConnection.h"

#include "RecordSchema.h"
#include "RecordStore.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>

#include <atomic>

namespace quobin::records {

namespace {

// Says why the file cannot be used before SQLite gives a vaguer reason.
void checkPath(const QString &path)
{
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    if (file.isDir())
        throw RecordStoreError(QStringLiteral("%1 is a folder, not a records database").arg(path));
    if (!folder.isDir())
        throw RecordStoreError(QStringLiteral("Cannot keep records in %1: the folder %2 does not exist")
                                   .arg(path, folder.filePath()));
    if (!file.exists() && !folder.isWritable())
        throw RecordStoreError(QStringLiteral("Cannot create the records database %1: the folder %2 may not be written")
                                   .arg(path, folder.filePath()));
    if (file.exists() && !file.isWritable())
        throw RecordStoreError(QStringLiteral("The records database %1 may not be written").arg(path));
    if (file.exists() && !file.isReadable())
        throw RecordStoreError(QStringLiteral("The records database %1 may not be read").arg(path));
}

// How long a connection waits for another process on the same file.
constexpr int kBusyMsecs = 10000;

// Puts the file into write-ahead-log mode. SQLite answers "database is
// locked" at once, without its busy wait, while another connection reads a
// file that is still in rollback mode: two stations that start together on
// one new file (their shared spool, say) meet exactly that. The switch is
// tried again for as long as the busy timeout would have waited.
bool switchToWriteAheadLog(QSqlQuery &pragma)
{
    QDeadlineTimer deadline(kBusyMsecs);
    for (;;) {
        if (pragma.exec(QStringLiteral("PRAGMA journal_mode=WAL")) && pragma.next())
            return true;
        // SQLITE_BUSY and SQLITE_LOCKED; every other error is final.
        const QString code = pragma.lastError().nativeErrorCode();
        if ((code != QLatin1String("5") && code != QLatin1String("6")) || deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
}

} // namespace

QString uniqueConnectionName(const char *kind)
{
    static std::atomic<int> counter{0};
    return QStringLiteral("quobin-records-%1-%2").arg(QLatin1String(kind)).arg(++counter);
}

SqliteConnection::SqliteConnection(const QString &path, bool withSpool)
    : m_name(uniqueConnectionName("sqlite"))
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
        throw RecordStoreError(QStringLiteral("Qt SQL has no SQLite driver: install libqt6sql6-sqlite"));
    checkPath(path);
    m_database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    m_database.setDatabaseName(path);
    m_database.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyMsecs));
    try {
        if (!m_database.open())
            throw RecordStoreError(QStringLiteral("Cannot open the records database %1: %2")
                                       .arg(path, schema::reasonOf(m_database.lastError())));
        QSqlQuery pragma(m_database);
        // The first read of the file: a file that is not a database fails here.
        if (!switchToWriteAheadLog(pragma))
            throw RecordStoreError(QStringLiteral("%1 is not a records database: %2")
                                       .arg(path, schema::reasonOf(pragma.lastError())));
        if (pragma.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
            throw RecordStoreError(QStringLiteral("The records database %1 cannot keep a write-ahead log (journal mode %2)")
                                       .arg(path, pragma.value(0).toString()));
        if (!pragma.exec(QStringLiteral("PRAGMA synchronous=FULL")))
            throw RecordStoreError(QStringLiteral("Cannot set full sync on the records database %1: %2")
                                       .arg(path, schema::reasonOf(pragma.lastError())));
        pragma.finish();
        schema::ensure(m_database, path, withSpool);
    } catch (...) {
        close();
        throw;
    }
}

SqliteConnection::~SqliteConnection()
{
    close();
}

void SqliteConnection::close()
{
    if (m_name.isEmpty())
        return;
    m_database.close();
    m_database = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_name);
    m_name.clear();
}

} // namespace quobin::records
