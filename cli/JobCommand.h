#pragma once

#include "Command.h"

#include <QStringList>

namespace quobin::cli {

// quobin-cli job: a supervisor approves, lists, shows and withdraws the
// jobs a station may flash, in the records database.
class JobCommand {
public:
    explicit JobCommand(const CliContext &context) : m_context(context) {}
    int run(const QStringList &arguments);

private:
    CliContext m_context;
};

} // namespace quobin::cli
