#include "DeviceAccess.h"

namespace quobin {

// Windows has no device groups: a COM port that cannot be opened is held by
// another program, or is not there.
QString groupThatMayOpen(const QString &)
{
    return {};
}

QString whyNotOpened(const QString &device, bool busy, const QString &otherwise)
{
    if (busy)
        return device + QStringLiteral(" is in use by another program");
    return otherwise;
}

} // namespace quobin
