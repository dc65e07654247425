#include "DeviceName.h"

#include "ArgumentText.h"
#include "SerialLineCheck.h"

#include <QFile>

#include <sys/stat.h>

namespace quobin::cli {

QString deviceNamedBy(const QString &argument)
{
    const QByteArray bytes = argumentBytes(argument);
    struct stat info {};
    if (::stat(bytes.constData(), &info) != 0 || !S_ISCHR(info.st_mode))
        return {};
    // The serial-line check tells a port from /dev/null and from the
    // program's own terminal.
    if (!notASerialLine(QFile::decodeName(bytes)).isEmpty())
        return {};
    return QStringLiteral("a serial line");
}

} // namespace quobin::cli
