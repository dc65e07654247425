#pragma once

#include "BoardRecord.h"

#include <QString>

namespace quobin {

// Why a board failed, in the words of an operator at the fixture rather
// than the upload's own: "No answer from the controller", "The controller
// rejected line 123 three times", "Adapter unplugged". deviceThere says
// whether the slot's device is still present: a board whose adapter went
// away failed because of that, whatever the upload then made of it.
// Empty for a board that passed or was cancelled.
QString operatorReason(const records::BoardRecord &record, bool deviceThere);

} // namespace quobin
