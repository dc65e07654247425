#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <mutex>
#include <utility>
#include <stdexcept>

class QFile;

namespace quobin {

// Raised when the firmware file cannot be opened or read.
class FirmwareFileError : public std::runtime_error {
public:
    explicit FirmwareFileError(const std::string &reason) : std::runtime_error(reason) {}
};

// The firmware file read once into memory: an upload sends every line from
// this one reading, so a file rewritten or removed meanwhile changes nothing
// that is sent, and every port of a gang gets the same image.
//
// A line ends at CR LF, at a lone LF or at a lone CR; the line end is never
// part of the line. Blank lines are kept; a final line end does not make a
// blank last line, and an empty file has no lines.
class FirmwareImage {
public:
    // Opens and reads the file at path. Throws FirmwareFileError.
    static std::shared_ptr<const FirmwareImage> read(const QString &path);
    // Opens the file at path for reading. Throws FirmwareFileError.
    static void open(QFile &file, const QString &path);
    // Reads an open file to its end. Throws FirmwareFileError.
    static std::shared_ptr<const FirmwareImage> readFrom(QFile &file);
    // An image of the given bytes, as if read from path.
    static std::shared_ptr<const FirmwareImage> fromBytes(const QByteArray &bytes,
                                                          const QString &path = {});

    const QList<QByteArray> &lines() const { return m_lines; }
    // Lower-case hex of the SHA-256 of the file's bytes exactly as read;
    // worked out at the first call, from any thread.
    QByteArray sha256Hex() const;
    QString path() const { return m_path; }
    QByteArray bytes() const { return m_bytes; }

    // This image with some of its lines replaced, each by a text of the same
    // length (index into lines(), new text): every other byte, line ends
    // included, stays as it is, and the bytes and SHA-256 are the new
    // image's. Throws std::invalid_argument for an index out of range or a
    // text of another length.
    std::shared_ptr<const FirmwareImage> withLines(const QList<std::pair<int, QByteArray>> &replacements) const;

private:
    FirmwareImage(QByteArray bytes, QString path);
    FirmwareImage(QByteArray bytes, QString path, QList<QByteArray> lines, QList<qsizetype> lineStarts);

    QByteArray m_bytes;
    QString m_path;
    QList<qsizetype> m_lineStarts; // where each line starts in m_bytes; filled with m_lines
    QList<QByteArray> m_lines;
    // A patched image per board must not cost a hash of the whole image
    // when nobody asks for it.
    mutable std::once_flag m_hashed;
    mutable QByteArray m_sha256Hex;
};

} // namespace quobin
