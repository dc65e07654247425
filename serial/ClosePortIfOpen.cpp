#include "ClosePortIfOpen.h"

#include "SerialPort.h"

#include <exception>

namespace quobin {

void ClosePortIfOpen(SerialPort &port) noexcept
{
    bool open = true;
    try {
        open = port.portOpen();
    } catch (const std::exception &) {
        // Unknown state: close it anyway.
    }
    if (!open)
        return;
    try {
        port.setPortOpen(false);
    } catch (const std::exception &) {
        // Nothing more can be done about a port that will not close.
    }
}

} // namespace quobin
