#pragma once

#include "Command.h"
#include "Slot.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace quobin::cli {

// quobin-cli station's arguments, checked.
struct StationArguments {
    QList<station::SlotAddress> slotAddresses;
    int count = 0;   // good boards before the run ends; 0 for no end
    station::ErrorPolicy policy = station::ErrorPolicy::Stop;
    QString recordsTarget;
    QString stationName;
    QString logDir;
    bool json = false;
    QString firmwarePath;
    QString serialSpec; // SERIES@ADDRESS:WIDTH:ENCODING[:FIRST[:STEP]], empty for none
    QString jobName;    // an approved job in the records, instead of a file and its settings

    // Throws UsageError.
    static StationArguments parse(const QStringList &arguments, const CliContext &context);
};

// quobin-cli station: board after board on every slot, each board recorded.
class StationCommand {
public:
    explicit StationCommand(const CliContext &context) : m_context(context) {}
    int run(const QStringList &arguments);

private:
    CliContext m_context;
};

} // namespace quobin::cli
