#pragma once

#include "ApprovedJob.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>

#include <optional>

namespace quobin::records {

// The jobs table of a records database (SQLite or PostgreSQL), in SQL both
// speak. Each function throws RecordStoreError naming `where` when the
// database refuses; a refusal for want of a right (PostgreSQL's "permission
// denied") says which right is missing.
namespace jobs {

// Keeps job as the next version of its name, approved by `who` now, in one
// transaction: the name's older versions stay as they are. Returns the job
// as stored (its version and approval filled in).
ApprovedJob approve(QSqlDatabase &db, ApprovedJob job, const QString &who, const QString &where);
// The current version of every name (the highest), without the images,
// by name.
QList<ApprovedJob> current(QSqlDatabase &db, const QString &where);
// Every version of name, newest first, without the images.
QList<ApprovedJob> versions(QSqlDatabase &db, const QString &name, const QString &where);
// The current version of name, with its image when withImage; nothing when
// the name has none.
std::optional<ApprovedJob> currentOf(QSqlDatabase &db, const QString &name, bool withImage, const QString &where);
// Marks every version of name not yet withdrawn as withdrawn by `who` now.
// Returns the current version as marked; throws when the name has none or
// it is withdrawn already.
ApprovedJob withdraw(QSqlDatabase &db, const QString &name, const QString &who, const QString &where);

} // namespace jobs
} // namespace quobin::records
