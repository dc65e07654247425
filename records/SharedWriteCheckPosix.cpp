#include "SharedWriteCheck.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace quobin::records {

namespace {

bool worldWritable(const QString &path)
{
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 && (status.st_mode & S_IWOTH) != 0;
}

} // namespace

QString writableByOthers(const QString &path)
{
    const QFileInfo file(path);
    const QString folder = file.absolutePath();
    if (worldWritable(folder))
        return QStringLiteral("every user of this machine may write in the folder %1: keep the records in a "
                              "folder only the station's users may write (not /tmp)")
            .arg(folder);
    if (file.exists() && worldWritable(file.absoluteFilePath()))
        return QStringLiteral("every user of this machine may write %1 (chmod o-w %1)").arg(file.absoluteFilePath());
    return {};
}

} // namespace quobin::records
