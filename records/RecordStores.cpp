#include "RecordStores.h"

#include "ServerRecordStore.h"
#include "ServerTarget.h"
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

} // namespace

std::unique_ptr<RecordStore> openRecordStore(const QString &target, const QProcessEnvironment &env)
{
    if (target.isEmpty())
        return std::make_unique<SqliteRecordStore>(madeDefaultFile(env));
    if (ServerTarget::looksLikeServer(target)) {
        const ServerTarget server = ServerTarget::parse(target);
        return std::make_unique<ServerRecordStore>(server, madeDefaultFile(env));
    }
    return std::make_unique<SqliteRecordStore>(QFileInfo(target).absoluteFilePath());
}

} // namespace quobin::records
