#include "RecordStores.h"

#include <QDir>

namespace quobin::records {

QString defaultRecordsFile(const QProcessEnvironment &env)
{
    QString dataHome = env.value(QStringLiteral("XDG_DATA_HOME"));
    if (dataHome.isEmpty() || QDir::isRelativePath(dataHome))
        dataHome = env.value(QStringLiteral("HOME"), QDir::homePath()) + QStringLiteral("/.local/share");
    return QDir::cleanPath(dataHome + QStringLiteral("/quobin/records.sqlite"));
}

std::unique_ptr<RecordStore> openRecordStore(const QString &target, const QProcessEnvironment &)
{
    throw RecordStoreError(QStringLiteral("Records cannot be kept yet: %1").arg(target));
}

} // namespace quobin::records
