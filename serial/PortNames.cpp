#include "PortNames.h"

#include "NetworkPortAddress.h"
#include "PortLinkFile.h"
#include "SerialError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#ifndef Q_OS_WIN
#include <climits>
#include <unistd.h>
#endif

namespace quobin {

int comNumberNamed(const QString &text)
{
    static const QRegularExpression comName(QStringLiteral("^(?:com\\s*)?(\\d{1,5})$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = comName.match(text.trimmed());
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

QString linkText(const QString &path)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    return {};
#else
    char target[PATH_MAX];
    const ssize_t length = ::readlink(QFile::encodeName(path).constData(), target, sizeof target);
    return length > 0 ? QFile::decodeName(QByteArray(target, qsizetype(length))) : QString();
#endif
}

QString portLinkName(qint16 number)
{
    return QStringLiteral("com%1").arg(number);
}

PortMapping portMappingFor(qint16 number, const QStringList &linkFolders)
{
    if (number < 1)
        throw SerialError("no serial port number " + std::to_string(number));
#ifdef Q_OS_WIN
    // A file named com3 would be the device COM3 itself: the links to serial
    // servers are lines of one file instead. Local COM ports need no link.
    for (const QString &folder : linkFolders) {
        const PortLinkFile file(folder);
        if (const QString target = file.target(number); !target.isEmpty())
            return {target, file.path(), true};
    }
    return {QStringLiteral("COM%1").arg(number), QString()};
#else
    for (const QString &folder : linkFolders) {
        const QFileInfo link(QDir(folder).filePath(portLinkName(number)));
        if (link.isSymLink() || link.exists()) {
            // A link to a serial server holds its address as the target.
            if (const QString target = linkText(link.absoluteFilePath()); NetworkPortAddress::names(target))
                return {target, link.absoluteFilePath()};
            // The device itself, so that two links of the same name in
            // different folders never share a lock.
            const QString device = link.canonicalFilePath();
            return {device.isEmpty() ? link.absoluteFilePath() : device, link.absoluteFilePath()};
        }
    }
    return {QStringLiteral("/dev/ttyS%1").arg(number - 1), QString()};
#endif
}

QString portNameFor(qint16 number, const QStringList &linkFolders)
{
    return portMappingFor(number, linkFolders).device;
}

QString portNameFor(qint16 number, const QString &programFolder)
{
    return portNameFor(number, QStringList{programFolder});
}

} // namespace quobin
