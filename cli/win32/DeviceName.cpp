#include "DeviceName.h"

#include <QRegularExpression>

namespace quobin::cli {

namespace {

// A name in the device namespace: \\.\NAME, or \\?\NAME where NAME is no
// drive ("C:\...") and no share ("UNC\..."), which are files.
QString deviceNamespaceName(const QString &path)
{
    QString normal = path;
    normal.replace(QLatin1Char('/'), QLatin1Char('\\'));
    if (normal.startsWith(QLatin1String("\\\\.\\")))
        return normal.mid(4);
    if (normal.startsWith(QLatin1String("\\\\?\\"))) {
        static const QRegularExpression fileRoot(QStringLiteral("^(?:[A-Za-z]:|UNC\\\\)"),
                                                 QRegularExpression::CaseInsensitiveOption);
        const QString rest = normal.mid(4);
        if (!fileRoot.match(rest).hasMatch())
            return rest;
    }
    return {};
}

} // namespace

QString deviceNamedBy(const QString &argument)
{
    if (const QString name = deviceNamespaceName(argument); !name.isEmpty())
        return QStringLiteral("the Windows device %1").arg(name);
    // The last part of the path, up to an extension or a colon, without the
    // blanks Windows ignores: "C:\logs\Com3 .txt" is the port COM3 too.
    static const QRegularExpression reserved(
        QStringLiteral("^(CON|PRN|AUX|NUL|COM[0-9\\x{B9}\\x{B2}\\x{B3}]|LPT[0-9\\x{B9}\\x{B2}\\x{B3}]|CONIN\\$|CONOUT\\$)"
                       "[ ]*(?:[.:].*)?$"),
        QRegularExpression::CaseInsensitiveOption);
    QString last = argument.mid(qMax(argument.lastIndexOf(QLatin1Char('\\')), argument.lastIndexOf(QLatin1Char('/'))) + 1);
    // "C:NUL": a drive's current folder, then the name.
    if (last.size() > 2 && last[1] == QLatin1Char(':') && last[0].isLetter() && last == argument)
        last = last.mid(2);
    const QRegularExpressionMatch match = reserved.match(last);
    if (match.hasMatch())
        return QStringLiteral("the Windows device %1").arg(match.captured(1).toUpper());
    return {};
}

} // namespace quobin::cli
