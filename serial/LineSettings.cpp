#include "LineSettings.h"

#include "SerialError.h"

#include <QStringList>

namespace quobin {

LineSettings LineSettings::parse(const QString &text)
{
    const auto refuse = [&text]() -> LineSettings {
        throw SerialError("invalid line settings \"" + text.toStdString() + "\"");
    };
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 4)
        return refuse();

    LineSettings settings;
    bool ok = false;
    settings.baud = fields[0].trimmed().toInt(&ok);
    if (!ok || settings.baud <= 0)
        return refuse();

    const QString parity = fields[1].trimmed().toLower();
    if (parity == QLatin1String("n"))
        settings.parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("e"))
        settings.parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("o"))
        settings.parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("m"))
        settings.parity = QSerialPort::MarkParity;
    else if (parity == QLatin1String("s"))
        settings.parity = QSerialPort::SpaceParity;
    else
        return refuse();

    const int dataBits = fields[2].trimmed().toInt(&ok);
    if (!ok || dataBits < 5 || dataBits > 8)
        return refuse();
    settings.dataBits = QSerialPort::DataBits(dataBits);

    const QString stop = fields[3].trimmed();
    if (stop == QLatin1String("1"))
        settings.stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("1.5"))
        settings.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        settings.stopBits = QSerialPort::TwoStop;
    else
        return refuse();
    return settings;
}

} // namespace quobin
