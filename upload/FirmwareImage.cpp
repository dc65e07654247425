#include "FirmwareImage.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <stdexcept>
#include <string>

namespace quobin {

namespace {

std::string describe(const QString &what, const QFile &file)
{
    return (what + QStringLiteral(" ") + file.fileName() + QStringLiteral(": ")
            + file.errorString()).toStdString();
}

QList<QByteArray> splitLines(const QByteArray &bytes, QList<qsizetype> &starts)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    qsizetype at = 0;
    const qsizetype size = bytes.size();
    while (at < size) {
        const char c = bytes[at];
        if (c != '\n' && c != '\r') {
            ++at;
            continue;
        }
        lines.append(bytes.mid(start, at - start));
        starts.append(start);
        ++at;
        if (c == '\r' && at < size && bytes[at] == '\n')
            ++at;
        start = at;
    }
    if (start < size) {
        lines.append(bytes.mid(start));
        starts.append(start);
    }
    return lines;
}

} // namespace

FirmwareImage::FirmwareImage(QByteArray bytes, QString path)
    : m_bytes(std::move(bytes))
    , m_path(std::move(path))
    , m_lines(splitLines(m_bytes, m_lineStarts))
{
}

FirmwareImage::FirmwareImage(QByteArray bytes, QString path, QList<QByteArray> lines, QList<qsizetype> lineStarts)
    : m_bytes(std::move(bytes))
    , m_path(std::move(path))
    , m_lineStarts(std::move(lineStarts))
    , m_lines(std::move(lines))
{
}

QByteArray FirmwareImage::sha256Hex() const
{
    std::call_once(m_hashed, [this] {
        m_sha256Hex = QCryptographicHash::hash(m_bytes, QCryptographicHash::Sha256).toHex();
    });
    return m_sha256Hex;
}

std::shared_ptr<const FirmwareImage>
FirmwareImage::withLines(const QList<std::pair<int, QByteArray>> &replacements) const
{
    QByteArray bytes = m_bytes;
    QList<QByteArray> lines = m_lines;
    for (const auto &[index, text] : replacements) {
        if (index < 0 || index >= m_lines.size())
            throw std::invalid_argument("no line " + std::to_string(index) + " to replace");
        if (text.size() != m_lines[index].size())
            throw std::invalid_argument("a line is replaced by a text of another length");
        bytes.replace(m_lineStarts[index], text.size(), text);
        lines[index] = text;
    }
    return std::shared_ptr<const FirmwareImage>(new FirmwareImage(bytes, m_path, lines, m_lineStarts));
}

void FirmwareImage::open(QFile &file, const QString &path)
{
    if (file.isOpen())
        file.close();
    file.setFileName(path);
    if (QFileInfo(path).isDir())
        throw FirmwareFileError(path.toStdString() + " is a folder");
    if (!file.open(QIODevice::ReadOnly))
        throw FirmwareFileError(describe(QStringLiteral("cannot open"), file));
}

std::shared_ptr<const FirmwareImage> FirmwareImage::readFrom(QFile &file)
{
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const qint64 got = file.read(buffer, sizeof buffer);
        if (got < 0)
            throw FirmwareFileError(describe(QStringLiteral("cannot read"), file));
        if (got == 0)
            break;
        bytes.append(buffer, got);
    }
    return fromBytes(bytes, file.fileName());
}

std::shared_ptr<const FirmwareImage> FirmwareImage::read(const QString &path)
{
    QFile file;
    open(file, path);
    return readFrom(file);
}

std::shared_ptr<const FirmwareImage> FirmwareImage::fromBytes(const QByteArray &bytes,
                                                              const QString &path)
{
    return std::shared_ptr<const FirmwareImage>(new FirmwareImage(bytes, path));
}

} // namespace quobin
