#include "AppendFile.h"

#include "ArgumentText.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace quobin::cli {

int openForAppending(const QString &path, QString &reason)
{
    // Without blocking: a FIFO that nobody reads is refused at once rather
    // than holding up the upload before it starts.
    const int descriptor = ::open(argumentBytes(path).constData(),
                                  O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (descriptor < 0) {
        reason = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
    return descriptor;
}

bool appendAll(int descriptor, const QByteArray &bytes, QString &reason)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(descriptor, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            reason = n < 0 ? QString::fromLocal8Bit(std::strerror(errno)) : QStringLiteral("nothing written");
            return false;
        }
        done += n;
    }
    return true;
}

void closeAppended(int descriptor)
{
    if (descriptor >= 0)
        ::close(descriptor);
}

} // namespace quobin::cli
