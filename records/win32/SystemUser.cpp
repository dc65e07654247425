#include "SystemUser.h"

#include <windows.h>

namespace quobin::records {

// The account the process runs as.
QString systemUserName()
{
    wchar_t name[257];
    DWORD size = DWORD(sizeof name / sizeof name[0]);
    if (::GetUserNameW(name, &size) && size > 1)
        return QString::fromWCharArray(name, int(size - 1));
    const QString fromEnvironment = qEnvironmentVariable("USERNAME");
    return fromEnvironment.isEmpty() ? QStringLiteral("unknown user") : fromEnvironment;
}

} // namespace quobin::records
