#pragma once

#include "BoardRecord.h"

#include <QByteArray>
#include <QList>

namespace quobin::records {

// The records for a spreadsheet (RFC 4180: a header row, CR LF line ends,
// fields quoted when they hold a comma, a quote or a line break, a cell
// that begins with =, +, -, @, a tab or a CR prefixed with ' so that no
// spreadsheet takes it for a formula), the
// questions in one field. quobin-cli records --csv and the station window's
// export both write this.
QByteArray recordsCsv(const QList<BoardRecord> &records);

} // namespace quobin::records
