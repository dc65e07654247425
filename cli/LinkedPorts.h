#pragma once

#include "PortNames.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

namespace quobin::cli {

// Windows' links of "Com n" to serial servers (the file of links,
// PortLinkFile, in each folder that links are looked for in), as the port
// layer resolves them, with what is wrong with the files. Shown by ports and
// by link.
struct LinkedPort {
    int number = 0;
    PortMapping mapping;
};
struct LinkFileNote {
    QString file;     // the file, in Windows' spelling
    int line = 0;     // the line ignored; 0 when the whole file could not be read
    QString text;     // the line as it stands, or why the file could not be read
};
struct LinkedPorts {
    QStringList files;           // where links are looked for, in order
    QString writeFile;           // where link makes them
    QList<LinkedPort> ports;     // by number
    QList<LinkFileNote> notes;
};

LinkedPorts linkedPorts(const QStringList &linkFolders, const QString &writeFolder);

// "Com 3  rfc2217://HOST:PORT  (link com3 in FILE)" and what it is, or
// "Com 3  COM3  (default)", each line ended, as ports shows a port on Linux.
QString linkedPortText(int number, const PortMapping &mapping);
// The links, the notes on the files and where links are kept, as text and
// as the parts of ports --json.
QString linkedPortsText(const LinkedPorts &links);
QJsonObject linkedPortsJson(const LinkedPorts &links);

} // namespace quobin::cli
