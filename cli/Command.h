#pragma once

#include "StorageFolders.h"

#include <QStringList>

namespace quobin::cli {

// Exit statuses of quobin-cli.
enum ExitStatus : int {
    ExitSuccess = 0,
    ExitFailed = 1,     // an upload failed on at least one port
    ExitUsage = 2,      // bad usage, an unreadable file or a failed check: nothing sent
    ExitHungUp = 129,   // SIGHUP: the terminal went away; cancelled like Ctrl-C
    ExitCancelled = 130 // Ctrl-C or SIGTERM
};

// The context every command runs in: where the program lives and where its
// files are kept.
struct CliContext {
    StorageFolders folders;
};

} // namespace quobin::cli
