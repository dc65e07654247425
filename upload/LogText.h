#pragma once

#include <QByteArray>
#include <QString>

namespace quobin {

// Texts for a byte log, one record a line: whatever comes from outside (the
// bytes on the wire, a port's name, a status text holding a file's name) is
// escaped, so that a line end inside it cannot split a record.

// Bytes as readable text: printable ASCII as it stands, the rest escaped.
QString escapedBytes(const QByteArray &bytes);
// A text in double quotes, escaped as its UTF-8 bytes.
QString quotedText(const QString &text);
// A text for a terminal or a printed table: letters of every script stay as
// they are, control characters (ESC, BEL, CR, LF, DEL, the C1 range, ...)
// are escaped as \e, \a, \r, \n or \xNN / \uNNNN, so that a name can
// neither drive the terminal nor start a line of its own.
QString terminalText(const QString &text);

} // namespace quobin
