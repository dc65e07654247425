#pragma once

#include <QString>

namespace quobin::records {

// What the operator is told when Qt SQL has no PostgreSQL driver.
QString missingPostgresDriver();

} // namespace quobin::records
