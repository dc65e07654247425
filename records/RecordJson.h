#pragma once

#include "BoardRecord.h"
#include "RecordSummary.h"

#include <QJsonObject>

namespace quobin::records {

// A record as JSON for scripts: its fields by their names in BoardRecord
// (id, station, slot, ..., questions as [{"line", "reason", "answer"}]),
// times as ISO 8601 UTC text.
QJsonObject recordJson(const BoardRecord &record);
QJsonObject summaryJson(const RecordSummary &summary);
// The record that recordJson() wrote; a record without a valid id comes
// back with a null id.
BoardRecord recordFromJson(const QJsonObject &object);

} // namespace quobin::records
