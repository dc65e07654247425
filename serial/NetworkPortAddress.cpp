#include "NetworkPortAddress.h"

#include "SerialError.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace quobin {

namespace {

const QString kScheme = QStringLiteral("rfc2217://");

} // namespace

QString NetworkPortAddress::text() const
{
    const QString shownHost = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return shownHost + QLatin1Char(':') + QString::number(port);
}

QString NetworkPortAddress::name() const
{
    return kScheme + text();
}

bool NetworkPortAddress::names(const QString &name)
{
    return name.trimmed().startsWith(kScheme, Qt::CaseInsensitive);
}

// Says what is wrong with a name that is not "rfc2217://HOST:PORT": each
// fault an operator makes has its own words.
NetworkPortAddress NetworkPortAddress::parse(const QString &name)
{
    static const QRegularExpression hostName(QStringLiteral("^[A-Za-z0-9._-]+$"));
    static const QRegularExpression zoneName(QStringLiteral("^[A-Za-z0-9._-]+$"));
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    const auto refuse = [&name](const QString &why) -> NetworkPortAddress {
        throw SerialError(QStringLiteral("%1 is not a network port: %2 (write rfc2217://HOST:PORT, "
                                         "an IPv6 address in brackets)")
                              .arg(name, why)
                              .toStdString());
    };
    const QString text = name.trimmed();
    if (!names(text))
        return refuse(QStringLiteral("it does not begin with rfc2217://"));
    QString rest = text.mid(kScheme.size());
    if (rest.endsWith(QLatin1Char('/')))
        rest.chop(1);
    if (rest.isEmpty())
        return refuse(QStringLiteral("no host and port"));
    if (rest.contains(QLatin1Char('@')))
        return refuse(QStringLiteral("a user name has no place in it (RFC 2217 has no log-in)"));
    if (rest.contains(QLatin1Char('/')))
        return refuse(QStringLiteral("nothing may follow the port (a serial server's line has no path)"));

    NetworkPortAddress address;
    QString portText;
    if (rest.startsWith(QLatin1Char('['))) {
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        if (close < 0)
            return refuse(QStringLiteral("the IPv6 address has no closing bracket"));
        QString literal = rest.mid(1, close - 1);
        const QString after = rest.mid(close + 1);
        if (!after.startsWith(QLatin1Char(':')))
            return refuse(QStringLiteral("no TCP port after the address"));
        portText = after.mid(1);
        // A zone (the interface of a link-local address): "%eth0", or
        // "%25eth0" as a URL escapes the "%".
        QString zone;
        if (const qsizetype percent = literal.indexOf(QLatin1Char('%')); percent >= 0) {
            zone = literal.mid(percent + 1);
            literal.truncate(percent);
            if (zone.startsWith(QLatin1String("25")) && zone.size() > 2 && !digits.match(zone).hasMatch())
                zone = zone.mid(2);
            if (!zoneName.match(zone).hasMatch())
                return refuse(QStringLiteral("the zone after %1% is not an interface name or number").arg(literal));
        }
        const QHostAddress parsed(literal);
        if (parsed.protocol() != QAbstractSocket::IPv6Protocol)
            return refuse(QStringLiteral("%1 in brackets is not an IPv6 address").arg(literal));
        address.host = zone.isEmpty() ? literal : literal + QLatin1Char('%') + zone;
    } else {
        const qsizetype colon = rest.lastIndexOf(QLatin1Char(':'));
        if (colon < 0)
            return refuse(QStringLiteral("no TCP port after the host"));
        address.host = rest.left(colon);
        portText = rest.mid(colon + 1);
        if (address.host.contains(QLatin1Char(':')))
            return refuse(QStringLiteral("an IPv6 address goes in brackets, as in [fd00::17]:2217"));
        if (address.host.isEmpty())
            return refuse(QStringLiteral("no host before the port"));
        if (!hostName.match(address.host).hasMatch())
            return refuse(QStringLiteral("\"%1\" is not a host name or address").arg(address.host));
    }
    if (portText.isEmpty())
        return refuse(QStringLiteral("no TCP port after the host"));
    if (!digits.match(portText).hasMatch())
        return refuse(QStringLiteral("the TCP port \"%1\" is not a number").arg(portText));
    if (portText.size() > 1 && portText.startsWith(QLatin1Char('0')))
        return refuse(QStringLiteral("the TCP port is written with a leading zero (write %1)")
                          .arg(portText.toUInt() == 0 ? QStringLiteral("a port from 1 to 65535")
                                                      : QString::number(portText.toUInt())));
    bool ok = false;
    const uint port = portText.size() <= 5 ? portText.toUInt(&ok) : 0;
    if (!ok || port < 1 || port > 65535)
        return refuse(QStringLiteral("the TCP port must be from 1 to 65535"));
    address.port = quint16(port);
    return address;
}

} // namespace quobin
