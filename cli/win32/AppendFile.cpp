#include "AppendFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <windows.h>

namespace quobin::cli {

// The wide-character functions, so that a path keeps every character
// whatever the system's code page.
int openForAppending(const QString &path, QString &reason)
{
    const int descriptor = ::_wopen(reinterpret_cast<const wchar_t *>(path.utf16()),
                                    _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (descriptor < 0) {
        reason = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    // A name that reached a device after all (a console, a port) is no file
    // to append lines to.
    if (GetFileType(reinterpret_cast<HANDLE>(::_get_osfhandle(descriptor))) == FILE_TYPE_CHAR) {
        ::_close(descriptor);
        reason = QStringLiteral("it is a device, not a file");
        return -1;
    }
    return descriptor;
}

bool appendAll(int descriptor, const QByteArray &bytes, QString &reason)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const int n = ::_write(descriptor, bytes.constData() + done, unsigned(bytes.size() - done));
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
        ::_close(descriptor);
}

} // namespace quobin::cli
