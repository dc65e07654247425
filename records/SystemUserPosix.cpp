#include "SystemUser.h"

#include <pwd.h>
#include <unistd.h>

namespace quobin::records {

// The account of the effective user id, whatever the environment says.
QString systemUserName()
{
    if (const passwd *entry = ::getpwuid(::geteuid()); entry && entry->pw_name && *entry->pw_name)
        return QString::fromLocal8Bit(entry->pw_name);
    return QStringLiteral("uid %1").arg(::geteuid());
}

} // namespace quobin::records
