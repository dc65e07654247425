#pragma once

#include "SimulatorConfig.h"

#include <QString>

namespace quobin::sim {

// The faults by name, as the command line gives them: NAME[:k[:arg]], where k
// is a line number and arg milliseconds, or a text for "answer", "split" and
// "garbage".
namespace FaultNames {

// Throws SimulatorError for an unknown name or a malformed number.
Fault parse(const QString &option);

// One line per fault: its name, arguments and what it does.
QString help();

} // namespace FaultNames

} // namespace quobin::sim
