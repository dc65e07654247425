#include "NetworkPortAddress.h"

#include "SerialError.h"

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

NetworkPortAddress NetworkPortAddress::parse(const QString &name)
{
    static const QRegularExpression form(
        QStringLiteral("^rfc2217://(?:\\[([0-9A-Fa-f:.]+)\\]|([A-Za-z0-9._-]+)):(\\d{1,5})/?$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(name.trimmed());
    const auto refuse = [&name](const char *why) -> NetworkPortAddress {
        throw SerialError(QStringLiteral("%1 is not a network port: %2 (write rfc2217://HOST:PORT, "
                                         "an IPv6 address in brackets)")
                              .arg(name, QLatin1String(why))
                              .toStdString());
    };
    if (!match.hasMatch())
        return refuse("no host and port");
    bool ok = false;
    const uint port = match.captured(3).toUInt(&ok);
    if (!ok || port < 1 || port > 65535)
        return refuse("the TCP port must be from 1 to 65535");
    NetworkPortAddress address;
    address.host = match.captured(1).isEmpty() ? match.captured(2) : match.captured(1);
    address.port = quint16(port);
    return address;
}

} // namespace quobin
