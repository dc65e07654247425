#include "FileArgument.h"

#include "Command.h"
#include "DeviceName.h"

#include <QFileInfo>

namespace quobin::cli {

// Windows hands the program its arguments as UTF-16, so every name is plain
// text that Qt's (wide) file functions open as it stands. Only a regular
// file is taken: not a folder, and not a device name such as NUL or COM1.
FileArgument::FileArgument(const QString &argument) : m_shown(argument), m_openable(argument)
{
    if (const QString device = deviceNamedBy(argument); !device.isEmpty())
        throw UsageError(QStringLiteral("%1 names %2, not a firmware file").arg(m_shown, device));
    const QFileInfo info(argument);
    if (!info.exists())
        throw UsageError(QStringLiteral("%1: no such file").arg(m_shown));
    if (info.isDir())
        throw UsageError(QStringLiteral("%1 is a folder, not a firmware file").arg(m_shown));
    if (!info.isFile())
        throw UsageError(QStringLiteral("%1 is not a regular file, not a firmware file").arg(m_shown));
}

FileArgument::~FileArgument() = default;

} // namespace quobin::cli
