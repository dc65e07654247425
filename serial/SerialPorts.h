#pragma once

#include "SerialPort.h"

#include <functional>
#include <memory>

namespace quobin {

// The one place where the programs get a port: the implementation that fits
// the name that a port number (or a device) resolves to on this system.
// Callers never name an implementation; the engine never learns which one
// it drives.
std::unique_ptr<SerialPort> makeSerialPort(std::function<QString(qint16)> portNameFor);

// A port that always opens the given device, whatever number it is set to.
std::unique_ptr<SerialPort> makeSerialPortOn(const QString &device);

} // namespace quobin
