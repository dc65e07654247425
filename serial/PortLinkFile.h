#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <stdexcept>

namespace quobin {

// Raised when the file of links cannot be written, or holds what a rewrite
// would lose; the message names the file and the reason.
class PortLinkFileError : public std::runtime_error {
public:
    explicit PortLinkFileError(const QString &reason) : std::runtime_error(reason.toStdString()) {}
};

// The links of "Com n" to serial servers on the network, where a link cannot
// be a symbolic link of its own (Windows): one text file, quobin-links.txt,
// in the folder of quobin.ini. One file and not a file per port, because on
// Windows a file named com3, with any extension, is the device COM3.
//
// The file is UTF-8 text, one link a line:
//     com3=rfc2217://bench1.plant:2217
// the name in any case, blanks allowed around "=". Blank lines and lines
// that begin with ";" or "#" are notes. A line that is no such link (a
// damaged file, a hand-written port of another kind, a number out of range)
// is ignored by every reader, which then takes the next folder's link or
// the default port, and is kept as it stands when the file is rewritten. Of
// two links of one number the first counts.
class PortLinkFile {
public:
    static constexpr char kFileName[] = "quobin-links.txt";
    // A file larger than this is no file of links: it is neither read nor
    // rewritten.
    static constexpr qint64 kMaxBytes = 64 * 1024;

    struct Link {
        int number = 0;
        QString target;   // as written, trimmed: an rfc2217:// address
        int line = 0;     // counted from 1
    };
    struct IgnoredLine {
        int line = 0;
        QString text;
    };
    struct Contents {
        QList<Link> links;           // in the file's order, the first of each number only
        QList<IgnoredLine> ignored;  // lines that are neither notes nor links
        QString problem;             // why the file could not be read at all; empty when it
                                     // was read or is not there
    };

    explicit PortLinkFile(const QString &folder);

    QString path() const { return m_path; }

    // What the file holds now. A missing file holds nothing; one that cannot
    // be read holds nothing and says why.
    Contents read() const;
    // The target that the file links Com number to; empty when none.
    QString target(int number) const;

    // Links Com number to target, in place of any link it had. Every other
    // line stays as it was; a new file starts with a note of what it is. The
    // file is written whole under another name and moved over the old one
    // in one step, so a reader finds the old file or the new one, never a
    // part. Throws PortLinkFileError.
    void setLink(int number, const QString &target) const;
    // Removes every link of Com number; false when it had none (the file is
    // then left alone). Throws PortLinkFileError.
    bool removeLink(int number) const;

private:
    // The file's lines without their line ends; empty when it is missing.
    // Throws PortLinkFileError when it cannot be read.
    QList<QByteArray> lines() const;
    void write(const QList<QByteArray> &lines) const;

    QString m_path;
};

} // namespace quobin
