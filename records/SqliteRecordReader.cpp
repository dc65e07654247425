#include "SqliteRecordReader.h"

#include "RecordSchema.h"
#include "SqliteConnection.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QUrl>
#include <QUrlQuery>

namespace quobin::records {

namespace {

// One read over a connection that SQLite opens read-only. immutable tells
// SQLite that nobody writes the file, so that it needs neither a lock nor
// the write-ahead log's shared-memory file: the way to read a database in a
// folder this user may not write, whose -shm file is not there.
template<typename Result, typename Work>
Result readOnce(const QString &path, bool immutable, Work &&work)
{
    QUrl uri = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("mode"), QStringLiteral("ro"));
    if (immutable)
        query.addQueryItem(QStringLiteral("immutable"), QStringLiteral("1"));
    uri.setQuery(query);

    const QString name = uniqueConnectionName("reader");
    Result result;
    QString problem;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(uri.toString(QUrl::FullyEncoded));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=10000"));
        if (!db.open()) {
            problem = QStringLiteral("Cannot open the records database %1: %2")
                          .arg(path, schema::reasonOf(db.lastError()));
        } else {
            try {
                const int found = schema::requireRecords(db, path);
                result = work(db, found);
            } catch (const RecordStoreError &error) {
                problem = error.reason();
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    if (!problem.isEmpty())
        throw RecordStoreError(problem);
    return result;
}

} // namespace

void SqliteRecordReader::commit(const BoardRecord &)
{
    throw RecordStoreError(QStringLiteral("The records database %1 is open for reading only").arg(m_path));
}

template<typename Result, typename Work>
Result SqliteRecordReader::readWith(Work &&work)
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
        throw RecordStoreError(QStringLiteral("Qt SQL has no SQLite driver: install libqt6sql6-sqlite"));
    const QFileInfo file(m_path);
    if (!file.exists())
        return {};
    if (file.isDir())
        throw RecordStoreError(QStringLiteral("%1 is a folder, not a records database").arg(m_path));
    if (!file.isReadable())
        throw RecordStoreError(QStringLiteral("The records database %1 may not be read").arg(m_path));
    try {
        return readOnce<Result>(m_path, false, work);
    } catch (const RecordStoreError &first) {
        // A database in write-ahead-log mode whose -shm file is missing
        // cannot be opened read-only by a user who may not create that
        // file; such a reader sees the file as it stands. A file that is
        // no records database fails the same way again, with the first reason.
        if (QFileInfo(file.absolutePath()).isWritable() && file.isWritable())
            throw;
        try {
            return readOnce<Result>(m_path, true, work);
        } catch (const RecordStoreError &) {
            throw first;
        }
    }
}

QList<BoardRecord> SqliteRecordReader::read(const QDateTime &since)
{
    return readWith<QList<BoardRecord>>(
        [&](QSqlDatabase &db, int found) { return schema::select(db, since, m_path, found); });
}

QMap<QString, SeriesState> SqliteRecordReader::seriesStates()
{
    return readWith<QMap<QString, SeriesState>>(
        [&](QSqlDatabase &db, int found) { return schema::seriesStates(db, m_path, found); });
}

} // namespace quobin::records
