#include "LinkedPorts.h"

#include "PortLinkFile.h"

#include <QDir>
#include <QJsonArray>

#include <algorithm>

namespace quobin::cli {

namespace {

QString shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

LinkedPorts linkedPorts(const QStringList &linkFolders, const QString &writeFolder)
{
    LinkedPorts links;
    links.writeFile = shown(PortLinkFile(writeFolder).path());
    QList<int> numbers;
    for (const QString &folder : linkFolders) {
        const PortLinkFile file(folder);
        links.files << shown(file.path());
        const PortLinkFile::Contents contents = file.read();
        if (!contents.problem.isEmpty())
            links.notes.append({shown(file.path()), 0, contents.problem});
        for (const PortLinkFile::IgnoredLine &line : contents.ignored)
            links.notes.append({shown(file.path()), line.line, line.text});
        for (const PortLinkFile::Link &link : contents.links) {
            if (!numbers.contains(link.number))
                numbers << link.number;
        }
    }
    std::sort(numbers.begin(), numbers.end());
    // Each as every program resolves it: the first folder's link wins.
    for (const int number : std::as_const(numbers))
        links.ports.append({number, portMappingFor(qint16(number), linkFolders)});
    return links;
}

QString linkedPortText(int number, const PortMapping &mapping)
{
    const QString com = QStringLiteral("Com %1").arg(number);
    if (!mapping.inLinkFile)
        return QStringLiteral("%1  %2  (default)\n").arg(com, mapping.device);
    return QStringLiteral("%1  %2  (link com%3 in %4)\n"
                          "       a serial server on the network (RFC 2217); reached when the port opens\n")
        .arg(com, mapping.device)
        .arg(number)
        .arg(shown(mapping.link));
}

QString linkedPortsText(const LinkedPorts &links)
{
    QString text;
    for (const LinkedPort &port : links.ports)
        text += linkedPortText(port.number, port.mapping);
    for (const LinkFileNote &note : links.notes) {
        if (note.line == 0)
            text += QStringLiteral("%1; its links are ignored\n").arg(note.text);
        else
            text += QStringLiteral("%1 line %2 is no link to a serial server and is ignored: %3\n")
                        .arg(note.file)
                        .arg(note.line)
                        .arg(note.text);
    }
    text += QStringLiteral("Links to serial servers are looked for in %1; new links are made in %2.\n")
                .arg(links.files.join(QStringLiteral(", then ")), links.writeFile);
    return text;
}

QJsonObject linkedPortsJson(const LinkedPorts &links)
{
    QJsonArray ports;
    for (const LinkedPort &port : links.ports) {
        ports.append(QJsonObject{
            {QStringLiteral("port"), QStringLiteral("Com %1").arg(port.number)},
            {QStringLiteral("number"), port.number},
            {QStringLiteral("device"), port.mapping.device},
            {QStringLiteral("mappedBy"), QStringLiteral("link")},
            {QStringLiteral("link"), shown(port.mapping.link)},
            {QStringLiteral("network"), true},
        });
    }
    QJsonArray notes;
    for (const LinkFileNote &note : links.notes) {
        notes.append(QJsonObject{{QStringLiteral("file"), note.file},
                                 {QStringLiteral("line"), note.line == 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(note.line)},
                                 {QStringLiteral("text"), note.text}});
    }
    return QJsonObject{{QStringLiteral("links"), ports},
                       {QStringLiteral("linkFile"), links.writeFile},
                       {QStringLiteral("linkFiles"), QJsonArray::fromStringList(links.files)},
                       {QStringLiteral("ignored"), notes}};
}

} // namespace quobin::cli
