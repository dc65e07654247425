#pragma once

#include <QString>

namespace quobin::records {

// What the operator is told when Qt SQL has no PostgreSQL driver: on Linux
// the driver is a package of its own. The Windows programs have it linked in
// (packaging/windows), so they never meet this.
QString missingPostgresDriver();

} // namespace quobin::records
