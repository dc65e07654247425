#include "SerialPorts.h"

#include "QtSerialPort.h"

namespace quobin {

std::unique_ptr<SerialPort> makeSerialPort(std::function<QString(qint16)> portNameFor)
{
    return std::make_unique<QtSerialPort>(std::move(portNameFor));
}

std::unique_ptr<SerialPort> makeSerialPortOn(const QString &device)
{
    return makeSerialPort([device](qint16) { return device; });
}

} // namespace quobin
