#include "FileArgument.h"

#include "ArgumentText.h"
#include "Command.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quobin::cli {

namespace {

QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO (named pipe)");
    if (S_ISCHR(mode))
        return QStringLiteral("a character device");
    if (S_ISBLK(mode))
        return QStringLiteral("a block device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("not a regular file");
}

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

FileArgument::FileArgument(const QString &argument) : m_shown(readable(argument)), m_openable(argument)
{
    const QByteArray bytes = argumentBytes(argument);
    struct stat info {};
    if (::stat(bytes.constData(), &info) != 0) {
        if (errno == ENOENT)
            throw UsageError(QStringLiteral("%1: no such file").arg(m_shown));
        throw UsageError(QStringLiteral("%1: %2").arg(m_shown, systemReason(errno)));
    }
    if (!S_ISREG(info.st_mode))
        throw UsageError(QStringLiteral("%1 is %2, not a firmware file").arg(m_shown, kindOf(info.st_mode)));
    if (isPlainText(argument))
        return;
    // Without blocking, and looked at again once open: the name may have
    // been given to something else meanwhile.
    m_descriptor = ::open(bytes.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (m_descriptor < 0)
        throw UsageError(QStringLiteral("%1: %2").arg(m_shown, systemReason(errno)));
    if (::fstat(m_descriptor, &info) != 0 || !S_ISREG(info.st_mode))
        throw UsageError(QStringLiteral("%1 is %2, not a firmware file").arg(m_shown, kindOf(info.st_mode)));
    m_openable = QStringLiteral("/proc/self/fd/%1").arg(m_descriptor);
}

FileArgument::~FileArgument()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

} // namespace quobin::cli
