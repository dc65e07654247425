#pragma once

#include "BoardRecord.h"
#include "RecordSummary.h"

#include <QJsonObject>

#include <optional>

namespace quobin::records {

// The form of the JSON that `records --json` and `station --json` write,
// carried as "schema" by each of their lines: raised when a field changes
// its meaning or type or goes; fields may be added within a form.
constexpr int kJsonSchema = 1;

// A serial number as JSON: a number up to 2^53, which a double holds
// exactly, a string of its decimal digits above; null for none.
QJsonValue serialJson(const std::optional<quint64> &serial);

// A record as JSON for scripts: its fields by their names in BoardRecord
// (id, station, slot, ..., questions as [{"line", "reason", "answer"}]),
// times as ISO 8601 UTC text.
QJsonObject recordJson(const BoardRecord &record);
QJsonObject summaryJson(const RecordSummary &summary);
// The record that recordJson() wrote; a record without a valid id comes
// back with a null id.
BoardRecord recordFromJson(const QJsonObject &object);

} // namespace quobin::records
