#include "ProgramUsage.h"

#include <QtGlobal>

const char kProgramUsage[] =
    "Usage: quobin [-h | --help]\n"
    "Quobin " QT_STRINGIFY(QUOBIN_VERSION_MAJOR) "." QT_STRINGIFY(QUOBIN_VERSION_MINOR)
    " writes firmware into a Vantor controller over a serial port.\n"
    "It is a desktop program with one window and takes no options. It keeps its\n"
    "settings and comN port links beside itself in a portable folder, else in\n"
    "~/.config/quobin/. quobin-cli uploads from a terminal or a script.\n";
