#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace quobin {

// The ports the window lists: "Com 1" to "Com 8".
constexpr int kFirstComPort = 1;
constexpr int kLastComPort = 8;

// What "Com n" stands for, and why.
struct PortMapping {
    QString device;  // the device to open
    QString link;    // the comN link that named it; empty for the default
    // The link is an entry of the file of links (PortLinkFile, Windows), read
    // as the mapping is made; otherwise a symbolic link, which a caller may
    // follow afresh at each open.
    bool inLinkFile = false;
};

// The device behind "Com n". On Windows the serial server's address that the
// file of links (PortLinkFile) of the first of linkFolders that links n holds,
// else "COMn". Elsewhere a link named "comn" in the first of linkFolders that
// has one (the device it leads to, or the serial server's address
// "rfc2217://HOST:PORT" that it holds), else /dev/ttyS(n-1), as PC serial
// ports have always been numbered on Linux. Throws SerialError for a number
// below 1 (no port selected).
PortMapping portMappingFor(qint16 number, const QStringList &linkFolders);
QString portNameFor(qint16 number, const QStringList &linkFolders);
QString portNameFor(qint16 number, const QString &programFolder);

// The number n of a port named "Com n", "comn" or "n" (any case, blanks
// allowed after "com"); -1 when the text is no such name. The number is not
// checked against any range.
int comNumberNamed(const QString &text);

// What the symbolic link at path holds, as written (not made absolute);
// empty when path is no symbolic link.
QString linkText(const QString &path);

// The name of the link that maps "Com n": "comn".
QString portLinkName(qint16 number);

} // namespace quobin
