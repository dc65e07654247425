#include "ProgramUsage.h"

#include <QtGlobal>

// "Com n" is COMn, unless the file of links names a serial server for it.
const char kProgramUsage[] =
    "Usage: quobin [-h | --help]\n"
    "Quobin " QT_STRINGIFY(QUOBIN_VERSION_MAJOR) "." QT_STRINGIFY(QUOBIN_VERSION_MINOR)
    " writes firmware into a Vantor controller over a serial port.\n"
    "It is a desktop program with one window and takes no options. \"Com n\" in its\n"
    "window is the port COMn, or the serial server that quobin-cli link linked it\n"
    "to. It keeps its settings (quobin.ini) and those links (quobin-links.txt)\n"
    "beside itself in a portable folder, else in %APPDATA%\\Quobin\\. quobin-cli\n"
    "uploads from a command prompt or a script.\n";
