#include "PortNames.h"

#include "SerialError.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace quobin {

int comNumberNamed(const QString &text)
{
    static const QRegularExpression comName(QStringLiteral("^(?:com\\s*)?(\\d{1,5})$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = comName.match(text.trimmed());
    return match.hasMatch() ? match.captured(1).toInt() : -1;
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
    Q_UNUSED(linkFolders);
    return {QStringLiteral("COM%1").arg(number), QString()};
#else
    for (const QString &folder : linkFolders) {
        const QFileInfo link(QDir(folder).filePath(portLinkName(number)));
        if (link.isSymLink() || link.exists()) {
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
