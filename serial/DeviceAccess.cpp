#include "DeviceAccess.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quobin {

namespace {

QString groupName(gid_t gid)
{
    if (const struct group *entry = ::getgrgid(gid))
        return QString::fromLocal8Bit(entry->gr_name);
    return QString::number(gid);
}

QString userName(uid_t uid)
{
    if (const struct passwd *entry = ::getpwuid(uid))
        return QString::fromLocal8Bit(entry->pw_name);
    return QString::number(uid);
}

QString permissionDenied(const QString &device, const struct stat &info)
{
    const QString group = groupThatMayOpen(device);
    if (!group.isEmpty())
        return QStringLiteral("permission denied: %1 belongs to group %2").arg(device, group);
    return QStringLiteral("permission denied: %1 belongs to user %2 and group %3, mode %4")
        .arg(device, userName(info.st_uid), groupName(info.st_gid))
        .arg(info.st_mode & 07777, 4, 8, QLatin1Char('0'));
}

} // namespace

QString groupThatMayOpen(const QString &device)
{
    struct stat info {};
    if (::stat(QFile::encodeName(device).constData(), &info) != 0)
        return {};
    if ((info.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP) || info.st_gid == 0)
        return {};
    return groupName(info.st_gid);
}

QString whyNotOpened(const QString &device, bool busy, const QString &otherwise)
{
    const QByteArray path = QFile::encodeName(device);
    struct stat info {};
    if (::stat(path.constData(), &info) != 0) {
        if (errno != ENOENT)
            return otherwise;
        const QString target = QFileInfo(device).symLinkTarget();
        if (!target.isEmpty())
            return QStringLiteral("%1 leads to %2, which does not exist").arg(device, target);
        return QStringLiteral("%1 does not exist").arg(device);
    }
    if (::faccessat(AT_FDCWD, path.constData(), R_OK | W_OK, AT_EACCESS) != 0 && errno == EACCES)
        return permissionDenied(device, info);
    if (busy)
        return QStringLiteral("%1 is in use by another program").arg(device);
    return otherwise;
}

} // namespace quobin
