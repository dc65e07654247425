#include "LineSettings.h"

#include "SerialError.h"

#include <QHash>
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

    static const QHash<QString, QSerialPort::Parity> parities = {
        {QStringLiteral("n"), QSerialPort::NoParity},   {QStringLiteral("e"), QSerialPort::EvenParity},
        {QStringLiteral("o"), QSerialPort::OddParity},  {QStringLiteral("m"), QSerialPort::MarkParity},
        {QStringLiteral("s"), QSerialPort::SpaceParity}};
    const auto parity = parities.constFind(fields[1].trimmed().toLower());
    if (parity == parities.cend())
        return refuse();
    settings.parity = *parity;

    const int dataBits = fields[2].trimmed().toInt(&ok);
    if (!ok || dataBits < 5 || dataBits > 8)
        return refuse();
    settings.dataBits = QSerialPort::DataBits(dataBits);

    static const QHash<QString, QSerialPort::StopBits> stopBits = {
        {QStringLiteral("1"), QSerialPort::OneStop},
        {QStringLiteral("1.5"), QSerialPort::OneAndHalfStop},
        {QStringLiteral("2"), QSerialPort::TwoStop}};
    const auto stop = stopBits.constFind(fields[3].trimmed());
    if (stop == stopBits.cend())
        return refuse();
    settings.stopBits = *stop;
    return settings;
}

} // namespace quobin
