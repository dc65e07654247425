#include "ProgramUsage.h"

#include <QtGlobal>

// Windows has no port links: "Com n" is COMn.
const char kProgramUsage[] =
    "Usage: quobin [-h | --help]\n"
    "Quobin " QT_STRINGIFY(QUOBIN_VERSION_MAJOR) "." QT_STRINGIFY(QUOBIN_VERSION_MINOR)
    " writes firmware into a Vantor controller over a serial port.\n"
    "It is a desktop program with one window and takes no options. \"Com n\" in its\n"
    "window is the port COMn. It keeps its settings (quobin.ini) beside itself in a\n"
    "portable folder, else in %APPDATA%\\Quobin\\. quobin-cli uploads from a command\n"
    "prompt or a script.\n";
