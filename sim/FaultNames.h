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

// The option that parse() reads back as this fault; throws SimulatorError
// for one that the command line cannot express (a millisecond count or a
// text that its kind does not take, a board with "answer" or "garbage").
QString format(const Fault &fault);

// One line per fault: its name, arguments and what it does.
QString help();

} // namespace FaultNames

} // namespace quobin::sim
