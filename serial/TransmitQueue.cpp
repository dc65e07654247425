#include "TransmitQueue.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#include <termios.h>
#endif

namespace quobin {

int DeviceTransmitQueue::queued(int fd)
{
#ifdef Q_OS_UNIX
    int bytes = 0;
    if (::ioctl(fd, TIOCOUTQ, &bytes) == 0 && bytes > 0)
        return bytes;
#else
    Q_UNUSED(fd);
#endif
    return 0;
}

std::optional<bool> DeviceTransmitQueue::transmitterEmpty(int fd)
{
#if defined(Q_OS_UNIX) && defined(TIOCSERGETLSR)
    unsigned int lineStatus = 0;
    if (::ioctl(fd, TIOCSERGETLSR, &lineStatus) == 0)
        return (lineStatus & TIOCSER_TEMT) != 0;
#else
    Q_UNUSED(fd);
#endif
    return std::nullopt;
}

void DeviceTransmitQueue::discard(int fd)
{
#ifdef Q_OS_UNIX
    ::tcflush(fd, TCOFLUSH);
#else
    Q_UNUSED(fd);
#endif
}

} // namespace quobin
