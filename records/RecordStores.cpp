#include "RecordStores.h"

#include "JobStore.h"
#include "ServerRecordStore.h"
#include "ServerTarget.h"
#include "SharedWriteCheck.h"
#include "SqliteRecordReader.h"
#include "SqliteRecordStore.h"

#include <QDir>
#include <QFileInfo>

namespace quobin::records {

namespace {

// The default file's folder is made when missing; a file named by the
// operator must be in a folder that exists.
QString madeDefaultFile(const QProcessEnvironment &env)
{
    const QString path = defaultRecordsFile(env);
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        throw RecordStoreError(QStringLiteral("Cannot make the folder %1 for the records database").arg(folder));
    return path;
}

// A file a station writes is its users' alone. (A folder named as the
// file is refused when opened, for what it is.)
QString safeFile(const QString &path)
{
    if (QFileInfo(path).isDir())
        return path;
    if (const QString problem = writableByOthers(path); !problem.isEmpty())
        throw RecordStoreError(QStringLiteral("The records database %1 is not safe: %2").arg(path, problem));
    return path;
}

} // namespace

std::unique_ptr<RecordStore> openRecordStore(const QString &target, const QProcessEnvironment &env)
{
    if (target.isEmpty())
        return std::make_unique<SqliteRecordStore>(safeFile(madeDefaultFile(env)));
    if (ServerTarget::looksLikeServer(target)) {
        const ServerTarget server = ServerTarget::parse(target);
        return std::make_unique<ServerRecordStore>(server, safeFile(madeDefaultFile(env)));
    }
    return std::make_unique<SqliteRecordStore>(safeFile(QFileInfo(target).absoluteFilePath()));
}

std::unique_ptr<RecordStore> openRecordReader(const QString &target, const QProcessEnvironment &env)
{
    if (target.isEmpty())
        return std::make_unique<SqliteRecordReader>(defaultRecordsFile(env));
    if (ServerTarget::looksLikeServer(target))
        return openRecordStore(target, env);
    return std::make_unique<SqliteRecordReader>(QFileInfo(target).absoluteFilePath());
}

std::unique_ptr<JobStore> openJobStore(const QString &target, const QProcessEnvironment &env)
{
    if (target.isEmpty())
        return JobStore::onFile(safeFile(madeDefaultFile(env)));
    if (ServerTarget::looksLikeServer(target))
        return JobStore::onServer(ServerTarget::parse(target));
    return JobStore::onFile(safeFile(QFileInfo(target).absoluteFilePath()));
}

} // namespace quobin::records
