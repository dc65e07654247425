#include "Rfc2217Line.h"

#include "Rfc2217Codec.h"
#include "SerialError.h"

#include <QStringList>

namespace quobin {

using Codec = Rfc2217Codec;

// "57600,n,8,1": the same four fields as a local port takes.
Rfc2217Line Rfc2217Line::parse(const QString &settings)
{
    const auto refuse = [&settings]() -> Rfc2217Line {
        throw SerialError("invalid line settings \"" + settings.toStdString() + "\"");
    };
    const QStringList fields = settings.split(QLatin1Char(','));
    if (fields.size() != 4)
        return refuse();
    Rfc2217Line line;
    bool ok = false;
    const int baud = fields[0].trimmed().toInt(&ok);
    if (!ok || baud <= 0)
        return refuse();
    line.baud = quint32(baud);
    static const QString parities = QStringLiteral("noems"); // the protocol's 1 to 5
    const QString parity = fields[1].trimmed().toLower();
    if (parity.size() != 1 || !parities.contains(parity))
        return refuse();
    line.parity = quint8(parities.indexOf(parity) + 1);
    const int dataBits = fields[2].trimmed().toInt(&ok);
    if (!ok || dataBits < 5 || dataBits > 8)
        return refuse();
    line.dataSize = quint8(dataBits);
    const QString stop = fields[3].trimmed();
    if (stop == QLatin1String("1"))
        line.stopSize = 1;
    else if (stop == QLatin1String("2"))
        line.stopSize = 2;
    else if (stop == QLatin1String("1.5"))
        line.stopSize = 3;
    else
        return refuse();
    line.bitsPerCharacter = 1 + dataBits + (line.parity == 1 ? 0 : 1) + (line.stopSize == 1 ? 1 : 2);
    return line;
}

// What an acknowledged value means, for the message that names it.
QString Rfc2217Line::valueText(const QByteArray &value, quint8 command)
{
    if (value.isEmpty())
        return QStringLiteral("nothing");
    if (command == Codec::SetBaudRate && value.size() == 4) {
        quint32 baud = 0;
        for (const char byte : value)
            baud = (baud << 8) | quint8(byte);
        return QString::number(baud);
    }
    const int number = quint8(value[0]);
    if (command == Codec::SetControl) {
        switch (number) {
        case Codec::NoFlowOutbound:
        case Codec::NoFlowInbound:
            return QStringLiteral("%1 (none)").arg(number);
        case Codec::XonXoffOutbound:
        case Codec::XonXoffInbound:
            return QStringLiteral("%1 (XON/XOFF)").arg(number);
        case 3:
        case Codec::HardwareInbound:
            return QStringLiteral("%1 (hardware)").arg(number);
        default:
            return QString::number(number);
        }
    }
    if (command == Codec::SetParity) {
        static const QStringList names{QStringLiteral("?"), QStringLiteral("none"), QStringLiteral("odd"),
                                       QStringLiteral("even"), QStringLiteral("mark"), QStringLiteral("space")};
        return number < names.size() ? QStringLiteral("%1 (%2)").arg(number).arg(names[number]) : QString::number(number);
    }
    return QString::number(number);
}

} // namespace quobin
