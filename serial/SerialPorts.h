#pragma once

#include "SerialPort.h"

#include <functional>
#include <memory>

namespace quobin {

// The one place where the programs get a port: the implementation that fits
// the name that a port number (or a device) resolves to on this system.
// Callers never name an implementation; the engine never learns which one
// it drives.
// cancelRequested, where given, is the operator's cancel: an open that takes
// long (a serial server being reached) gives up on it with SerialCancelled.
std::unique_ptr<SerialPort> makeSerialPort(std::function<QString(qint16)> portNameFor,
                                           std::function<bool()> cancelRequested = {});

// A port that always opens the given device, whatever number it is set to.
std::unique_ptr<SerialPort> makeSerialPortOn(const QString &device, std::function<bool()> cancelRequested = {});

} // namespace quobin
