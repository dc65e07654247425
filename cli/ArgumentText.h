#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace quobin::cli {

// The program's arguments as text that keeps every byte. Valid UTF-8 reads
// as it stands; any other byte becomes a lone surrogate (U+DC80 plus the
// byte), which no valid text holds, so a file name that is not UTF-8 can
// still be opened by its own bytes. (Qt's own decoding puts U+FFFD in their
// place, and the name is lost.)
QStringList argumentsKeepingBytes(int argc, const char *const *argv);
QString textKeepingBytes(const QByteArray &bytes);

// The bytes an argument was given as.
QByteArray argumentBytes(const QString &argument);
// True when the argument's bytes are valid UTF-8, so that Qt's own file
// functions reach the file it names.
bool isPlainText(const QString &argument);
// The argument as people read it: each byte that was no UTF-8 shown as U+FFFD.
QString readable(const QString &argument);

} // namespace quobin::cli
