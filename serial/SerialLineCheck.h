#pragma once

#include <QString>

namespace quobin {

// Why device is no serial line that an upload may drive; empty when it is
// one, or when it does not exist (opening it will say so). A serial line is
// a serial port or the far end of a pseudo-terminal. Not one: a regular
// file, a folder, a character device of another kind (/dev/null, /dev/zero),
// the system's own terminals (/dev/tty, /dev/console) and the terminal this
// program runs in, where the controller's commands would land on the
// operator's screen. A serial server's address (rfc2217://) is a line.
QString notASerialLine(const QString &device);

} // namespace quobin
