#include "PortNames.h"

#include "SerialError.h"

#include <QDir>
#include <QFileInfo>

namespace quobin {

QString portNameFor(qint16 number, const QString &programFolder)
{
    if (number < 1)
        throw SerialError("no serial port number " + std::to_string(number));
#ifdef Q_OS_WIN
    Q_UNUSED(programFolder);
    return QStringLiteral("COM%1").arg(number);
#else
    const QFileInfo link(QDir(programFolder).filePath(QStringLiteral("com%1").arg(number)));
    if (link.isSymLink() || link.exists()) {
        // The device itself, so that two links of the same name in different
        // folders never share a lock.
        const QString device = link.canonicalFilePath();
        return device.isEmpty() ? link.absoluteFilePath() : device;
    }
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
#endif
}

} // namespace quobin
