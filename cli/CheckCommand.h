#pragma once

#include "Command.h"

namespace quobin::cli {

class CheckCommand {
public:
    explicit CheckCommand(const CliContext &context) : m_context(context) {}
    int run(const QStringList &arguments);

private:
    CliContext m_context;
};

} // namespace quobin::cli
