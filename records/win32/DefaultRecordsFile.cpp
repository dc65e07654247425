#include "RecordStores.h"

#include <QDir>

namespace quobin::records {

// %LOCALAPPDATA%\Quobin\records.sqlite: the machine's own profile folder,
// which does not roam (a database that follows the user from PC to PC would
// be copied at every log-in and out).
QString defaultRecordsFile(const QProcessEnvironment &env)
{
    QString localAppData = QDir::fromNativeSeparators(env.value(QStringLiteral("LOCALAPPDATA")));
    if (!QDir::isAbsolutePath(localAppData))
        localAppData = QDir::home().filePath(QStringLiteral("AppData/Local"));
    return QDir::cleanPath(localAppData + QStringLiteral("/Quobin/records.sqlite"));
}

} // namespace quobin::records
