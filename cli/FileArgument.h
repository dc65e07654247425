#pragma once

#include <QString>

namespace quobin::cli {

// A firmware file named on the command line. Only a regular file is taken:
// a FIFO would block the reader until someone writes to it, and a device
// such as /dev/zero never ends. A name that is not UTF-8 is opened by its
// own bytes and reached through the descriptor (see ArgumentText.h).
class FileArgument {
public:
    // argument: as decoded by argumentsKeepingBytes(). Throws UsageError when
    // it names no regular file, saying what it names instead.
    explicit FileArgument(const QString &argument);
    ~FileArgument();
    FileArgument(const FileArgument &) = delete;
    FileArgument &operator=(const FileArgument &) = delete;

    // The name as people read it, for messages.
    QString shown() const { return m_shown; }
    // A path that Qt's file functions open: the name itself, or the open
    // descriptor's path for a name that is not UTF-8.
    QString openablePath() const { return m_openable; }

private:
    QString m_shown;
    QString m_openable;
    int m_descriptor = -1;
};

} // namespace quobin::cli
