#pragma once

#include <QString>

namespace quobin::cli {

// The device that a file name on the command line reaches instead of a
// file, described for a message ("the Windows device COM3", "a serial
// line"); empty when it names a file or nothing yet. Writing to such a name
// would send the bytes down a line (perhaps the controller's own). Asked
// before anything is opened: opening a port alone can disturb what is on it.
// - Windows: a reserved device name in any folder (CON, PRN, AUX, NUL,
//   COM0 to COM9, LPT0 to LPT9, CONIN$, CONOUT$), in any case, with or without
//   an extension or a colon ("com3.log", "NUL:"), and any name in the
//   device namespace (\\.\COM10, \\?\COM3).
// - Elsewhere: a serial line (a serial port, the far end of a
//   pseudo-terminal). Other character devices (/dev/null, /dev/full) and the
//   program's own terminal are files to write to there.
// argument: as decoded by argumentsKeepingBytes().
QString deviceNamedBy(const QString &argument);

} // namespace quobin::cli
