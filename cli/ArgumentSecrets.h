#pragma once

#include <QString>

namespace quobin::cli {

// Passwords in a records URL on the command line.
//
// Every user of the machine can read a process's command line
// (/proc/PID/cmdline, ps) for as long as it runs. At start the program
// overwrites each such password in its own argument strings with '*', so
// that it is visible only for the moment between exec and this call, and
// says once that a password belongs in libpq's password file (~/.pgpass; on
// Windows %APPDATA%\postgresql\pgpass.conf), a passfile, PGPASSWORD or a
// service file instead.

// Overwrites in place, in argv's own memory (which is what /proc shows), the
// bytes of every password in an argument that holds a postgresql:// URL.
void hidePasswordArguments(int argc, char **argv);

// Warns on stderr, once per process, when target carries a password.
void warnOfPasswordArgument(const QString &command, const QString &target);

} // namespace quobin::cli
