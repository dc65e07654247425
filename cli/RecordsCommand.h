#pragma once

#include "Command.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace quobin::cli {

// quobin-cli records: the boards a station recorded, oldest first, and a
// summary per job and slot.
class RecordsCommand {
public:
    explicit RecordsCommand(const CliContext &context) : m_context(context) {}
    int run(const QStringList &arguments);

private:
    CliContext m_context;
};

// --since TIME: an ISO 8601 date (midnight UTC) or date and time, UTC unless
// it names an offset. Invalid when TIME is neither.
QDateTime parseSinceTime(const QString &text);

} // namespace quobin::cli
