#include "UsbLocation.h"

#include <QRegularExpression>

namespace quobin {

namespace {

// One hop of a location path: NAME(ARGUMENT).
const QRegularExpression &hopPattern()
{
    static const QRegularExpression hop(QStringLiteral("^([A-Z]+)\\(([^()]*)\\)$"), QRegularExpression::CaseInsensitiveOption);
    return hop;
}

QStringList hopsOf(const QString &path)
{
    return path.trimmed().split(QLatin1Char('#'), Qt::SkipEmptyParts);
}

bool wellFormed(const QStringList &hops)
{
    for (const QString &hop : hops) {
        if (!hopPattern().match(hop).hasMatch())
            return false;
    }
    return !hops.isEmpty();
}

bool throughUsb(const QStringList &hops)
{
    for (const QString &hop : hops) {
        if (hop.startsWith(QLatin1String("USB("), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

} // namespace

QString UsbLocation::fromLocationPaths(const QStringList &paths)
{
    QString anyUsb;
    for (const QString &path : paths) {
        const QStringList hops = hopsOf(path);
        if (!wellFormed(hops) || !throughUsb(hops))
            continue;
        const QString socket = hops.join(QLatin1Char('#')).toUpper();
        if (socket.startsWith(QLatin1String("PCIROOT(")))
            return socket;
        if (anyUsb.isEmpty())
            anyUsb = socket;
    }
    return anyUsb;
}

QString UsbLocation::fromLocationInformation(const QString &information)
{
    static const QRegularExpression hubPort(QStringLiteral("^Port_#(\\d{1,4})\\.Hub_#(\\d{1,4})$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = hubPort.match(information.trimmed());
    if (!match.hasMatch())
        return {};
    return QStringLiteral("Port_#%1.Hub_#%2").arg(match.captured(1), match.captured(2));
}

bool UsbLocation::namesSocket(const QString &text)
{
    const QStringList hops = hopsOf(text);
    return wellFormed(hops) && throughUsb(hops);
}

QString UsbLocation::shortName(const QString &socket)
{
    static const QRegularExpression hubPort(QStringLiteral("^Port_#(\\d+)\\.Hub_#(\\d+)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    if (const QRegularExpressionMatch match = hubPort.match(socket); match.hasMatch())
        return QStringLiteral("hub %1 port %2").arg(match.captured(2).toInt()).arg(match.captured(1).toInt());
    if (!namesSocket(socket))
        return socket;
    static const QRegularExpression rootPort(QStringLiteral("^(?:HS|SS)(\\d+)$"), QRegularExpression::CaseInsensitiveOption);
    QStringList ports;
    QString interface;
    for (const QString &hop : hopsOf(socket)) {
        const QRegularExpressionMatch match = hopPattern().match(hop);
        const QString kind = match.captured(1).toUpper();
        bool number = false;
        const int value = match.captured(2).toInt(&number);
        if (kind == QLatin1String("USB") && number)
            ports << QString::number(value);
        else if (kind == QLatin1String("USBMI") && number)
            interface = QString::number(value);
        else if (kind == QLatin1String("USBROOT"))
            ports.clear();  // the ports below the root hub only
        else if (kind == QLatin1String("ACPI") && rootPort.match(match.captured(2)).hasMatch())
            ports = {QString::number(rootPort.match(match.captured(2)).captured(1).toInt())};  // ACPI's root port, HS03
    }
    if (ports.isEmpty())
        return socket;
    QString text = QStringLiteral("socket ") + ports.join(QLatin1Char('.'));
    if (!interface.isEmpty() && interface != QLatin1String("0"))
        text += QStringLiteral(" if ") + interface;
    return text;
}

} // namespace quobin
