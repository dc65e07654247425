#include "PortLinkFile.h"

#include "NetworkPortAddress.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include <algorithm>

namespace quobin {

namespace {

// What a new file says of itself before its first link.
const char *const kHeader[] = {
    "; Quobin: \"Com N\" linked to a serial server on the network, one link a line: comN=rfc2217://HOST:PORT",
    "; quobin-cli link N rfc2217://HOST:PORT makes a link; quobin-cli link N --remove removes it.",
};

struct ParsedLine {
    enum Kind { Note, Link, Ignored } kind = Note;
    int number = 0;
    QString target;
};

ParsedLine parsed(QByteArray raw, bool firstLine)
{
    // Notepad may begin a UTF-8 file with a byte-order mark.
    if (firstLine && raw.startsWith("\xEF\xBB\xBF"))
        raw.remove(0, 3);
    const QString text = QString::fromUtf8(raw).trimmed();
    if (text.isEmpty() || text.startsWith(QLatin1Char(';')) || text.startsWith(QLatin1Char('#')))
        return {};
    static const QRegularExpression form(QStringLiteral("^com\\s*(\\d{1,5})\\s*=(.*)$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return {ParsedLine::Ignored, 0, {}};
    const int number = match.captured(1).toInt();
    const QString target = match.captured(2).trimmed();
    if (number < 1 || number > 32767 || !NetworkPortAddress::names(target))
        return {ParsedLine::Ignored, 0, {}};
    return {ParsedLine::Link, number, target};
}

QByteArray linkLine(int number, const QString &target)
{
    return QStringLiteral("com%1=%2").arg(number).arg(target).toUtf8();
}

} // namespace

PortLinkFile::PortLinkFile(const QString &folder) : m_path(QDir(folder).filePath(QString::fromLatin1(kFileName))) {}

QList<QByteArray> PortLinkFile::lines() const
{
    const QFileInfo info(m_path);
    if (!info.exists())
        return {};
    const QString shown = QDir::toNativeSeparators(m_path);
    if (info.isDir())
        throw PortLinkFileError(QStringLiteral("%1 is a folder, not a file of links").arg(shown));
    if (info.size() > kMaxBytes)
        throw PortLinkFileError(QStringLiteral("%1 is too large (%2 bytes) to be a file of links").arg(shown).arg(info.size()));
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        throw PortLinkFileError(QStringLiteral("cannot read %1: %2").arg(shown, file.errorString()));
    const QByteArray data = file.read(kMaxBytes + 1);
    if (data.size() > kMaxBytes)
        throw PortLinkFileError(QStringLiteral("%1 is too large to be a file of links").arg(shown));
    QList<QByteArray> lines = data.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return lines;
}

PortLinkFile::Contents PortLinkFile::read() const
{
    Contents contents;
    QList<QByteArray> raw;
    try {
        raw = lines();
    } catch (const PortLinkFileError &error) {
        contents.problem = QString::fromStdString(error.what());
        return contents;
    }
    for (int i = 0; i < raw.size(); ++i) {
        const ParsedLine line = parsed(raw[i], i == 0);
        if (line.kind == ParsedLine::Ignored) {
            contents.ignored.append({i + 1, QString::fromUtf8(raw[i]).trimmed()});
        } else if (line.kind == ParsedLine::Link) {
            const bool seen = std::any_of(contents.links.cbegin(), contents.links.cend(),
                                          [&](const Link &link) { return link.number == line.number; });
            if (!seen)
                contents.links.append({line.number, line.target, i + 1});
        }
    }
    return contents;
}

QString PortLinkFile::target(int number) const
{
    for (const Link &link : read().links) {
        if (link.number == number)
            return link.target;
    }
    return {};
}

void PortLinkFile::setLink(int number, const QString &target) const
{
    if (!NetworkPortAddress::names(target))
        throw PortLinkFileError(QStringLiteral("%1 is no serial server's address (rfc2217://HOST:PORT)").arg(target));
    QList<QByteArray> raw = lines();
    if (raw.isEmpty()) {
        for (const char *note : kHeader)
            raw.append(QByteArray(note));
    }
    QList<QByteArray> rewritten;
    bool placed = false;
    for (int i = 0; i < raw.size(); ++i) {
        const ParsedLine line = parsed(raw[i], i == 0);
        if (line.kind == ParsedLine::Link && line.number == number) {
            if (!placed)
                rewritten.append(linkLine(number, target));
            placed = true;
        } else {
            rewritten.append(raw[i]);
        }
    }
    if (!placed)
        rewritten.append(linkLine(number, target));
    write(rewritten);
}

bool PortLinkFile::removeLink(int number) const
{
    const QList<QByteArray> raw = lines();
    QList<QByteArray> rewritten;
    for (int i = 0; i < raw.size(); ++i) {
        const ParsedLine line = parsed(raw[i], i == 0);
        if (line.kind != ParsedLine::Link || line.number != number)
            rewritten.append(raw[i]);
    }
    if (rewritten.size() == raw.size())
        return false;
    write(rewritten);
    return true;
}

void PortLinkFile::write(const QList<QByteArray> &lines) const
{
    const QString shown = QDir::toNativeSeparators(m_path);
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder))
        throw PortLinkFileError(QStringLiteral("cannot make the folder %1").arg(QDir::toNativeSeparators(folder)));
    // Written beside the file and moved over it; without the move (a folder
    // that allows no rename) nothing is written at all.
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        throw PortLinkFileError(QStringLiteral("cannot write %1: %2").arg(shown, file.errorString()));
    QByteArray data;
    for (const QByteArray &line : lines)
        data += line + "\r\n";
    if (file.write(data) != data.size() || !file.commit())
        throw PortLinkFileError(QStringLiteral("cannot write %1: %2").arg(shown, file.errorString()));
}

} // namespace quobin
