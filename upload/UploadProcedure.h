#pragma once

namespace quobin {

class Clock;
class SerialPort;
class UploadWindow;

// One whole upload: the check of the operator's input, the switch of the
// controller into its bootloader, the handshake, the line-by-line transfer
// of the firmware file and the verdict. run() returns when the upload has
// ended in any way; the window is idle again by then.
class UploadProcedure {
public:
    UploadProcedure(UploadWindow &window, SerialPort &port, Clock &clock);
    void run();

private:
    UploadWindow &m_window;
    SerialPort &m_port;
    Clock &m_clock;
};

} // namespace quobin
