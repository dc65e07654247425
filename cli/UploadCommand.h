#pragma once

#include "Command.h"

namespace quobin::cli {

class UploadCommand {
public:
    explicit UploadCommand(const CliContext &context) : m_context(context) {}
    int run(const QStringList &arguments);

private:
    CliContext m_context;
};

} // namespace quobin::cli
