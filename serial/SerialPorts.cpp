#include "SerialPorts.h"

#ifdef Q_OS_WIN
#include "Win32SerialPort.h"
#else
#include "QtSerialPort.h"
#endif

namespace quobin {

namespace {

// The port on this system's own devices.
std::unique_ptr<SerialPort> makeLocalPort(std::function<QString(qint16)> portNameFor)
{
#ifdef Q_OS_WIN
    return std::make_unique<Win32SerialPort>(std::move(portNameFor));
#else
    return std::make_unique<QtSerialPort>(std::move(portNameFor));
#endif
}

} // namespace

std::unique_ptr<SerialPort> makeSerialPort(std::function<QString(qint16)> portNameFor)
{
    return makeLocalPort(std::move(portNameFor));
}

std::unique_ptr<SerialPort> makeSerialPortOn(const QString &device)
{
    return makeSerialPort([device](qint16) { return device; });
}

} // namespace quobin
