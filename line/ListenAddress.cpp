#include "ListenAddress.h"

#include <stdexcept>

namespace quobin::line {

namespace {

[[noreturn]] void refuse(const QString &text, const QString &why)
{
    throw std::invalid_argument(
        QStringLiteral("--listen %1: %2 (write ADDRESS:PORT, e.g. 127.0.0.1:8080 or [::1]:8080)").arg(text, why).toStdString());
}

} // namespace

ListenAddress ListenAddress::parse(const QString &text)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        refuse(text, QStringLiteral("no port"));
    QString host = text.left(colon);
    const QString portText = text.mid(colon + 1);
    if (host.startsWith(QLatin1Char('[')) != host.endsWith(QLatin1Char(']')))
        refuse(text, QStringLiteral("an unclosed bracket"));
    if (host.startsWith(QLatin1Char('[')))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(QLatin1Char(':')))
        refuse(text, QStringLiteral("an IPv6 address goes in brackets"));
    bool ok = false;
    const uint port = portText.toUInt(&ok, 10);
    if (!ok || port == 0 || port > 65535)
        refuse(text, QStringLiteral("the port is not a number from 1 to 65535"));
    QHostAddress address;
    if (!address.setAddress(host))
        refuse(text, QStringLiteral("%1 is not an IP address").arg(host));
    return {address, quint16(port)};
}

QString ListenAddress::text() const
{
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
        ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
        : address.toString();
    return host + QLatin1Char(':') + QString::number(port);
}

} // namespace quobin::line
