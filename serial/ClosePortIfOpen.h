#pragma once

namespace quobin {

class SerialPort;

// Closes the port if it is open. Never fails: a port whose state cannot be
// read is closed all the same, and a failing close is ignored.
void ClosePortIfOpen(SerialPort &port) noexcept;

} // namespace quobin
