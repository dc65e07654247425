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

} // namespace quobin::records
