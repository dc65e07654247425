#pragma once

#include "StorageFolders.h"

#include <QStringList>

#include <stdexcept>

namespace quobin::cli {

// Exit statuses of quobin-cli.
enum ExitStatus : int {
    ExitSuccess = 0,
    ExitFailed = 1,     // an upload failed on at least one port
    ExitUsage = 2,      // bad usage, an unreadable file or a failed check: nothing sent
    ExitHungUp = 129,   // SIGHUP: the terminal went away; cancelled like Ctrl-C
    ExitCancelled = 130 // Ctrl-C or SIGTERM
};

// Bad usage, or an input that cannot be used (a file, a device, a log): the
// message says what is wrong; nothing has been sent.
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const QString &message) : std::runtime_error(message.toStdString()) {}
};

// The context every command runs in: where the program lives and where its
// files are kept.
struct CliContext {
    StorageFolders folders;
};

} // namespace quobin::cli
