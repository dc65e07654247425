#pragma once

#include "StationJob.h"

#include <QString>

namespace quobin::cli {

// Reads a firmware file for a station, or for a job's approval, and checks
// it as a station does: a file that is missing, a folder, unreadable or
// failing the check is refused with a UsageError that says why.
station::StationJob readCheckedImage(const QString &path);

} // namespace quobin::cli
