#pragma once

#include "Command.h"

namespace quobin::cli {

// Runs the command named by arguments (arguments[0] is the program) and
// returns the exit status.
int runCli(const QStringList &arguments, const CliContext &context);

} // namespace quobin::cli
