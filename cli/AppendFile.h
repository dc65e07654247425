#pragma once

#include <QByteArray>
#include <QString>

namespace quobin::cli {

// A file that lines are appended to, by a descriptor of the system's C
// library. path: as decoded by argumentsKeepingBytes(). Each sets reason to
// the system's words when it fails.
int openForAppending(const QString &path, QString &reason);
// Writes all of bytes at the end of the file; false when it could not.
bool appendAll(int descriptor, const QByteArray &bytes, QString &reason);
void closeAppended(int descriptor);

} // namespace quobin::cli
