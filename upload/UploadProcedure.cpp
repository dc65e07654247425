#include "UploadProcedure.h"

#include "Clock.h"
#include "SerialPort.h"
#include "UploadWindow.h"

namespace quobin {

UploadProcedure::UploadProcedure(UploadWindow &window, SerialPort &port, Clock &clock)
    : m_window(window), m_port(port), m_clock(clock)
{
}

void UploadProcedure::run()
{
    // Being written.
}

} // namespace quobin
