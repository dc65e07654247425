#include "HostPort.h"

#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

HostPort::HostPort(const QString &path, speed_t speed, bool xonXoff)
{
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_fd < 0)
        throw std::runtime_error("cannot open " + path.toStdString());
    termios settings {};
    ::tcgetattr(m_fd, &settings);
    ::cfmakeraw(&settings);
    ::cfsetispeed(&settings, speed);
    ::cfsetospeed(&settings, speed);
    if (xonXoff)
        settings.c_iflag |= IXON | IXOFF;
    ::tcsetattr(m_fd, TCSANOW, &settings);
    ::tcflush(m_fd, TCIFLUSH);
}

HostPort::~HostPort()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void HostPort::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    QElapsedTimer timer;
    timer.start();
    while (done < bytes.size() && timer.elapsed() < 2000) {
        const ssize_t n = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else {
            pollfd writable { m_fd, POLLOUT, 0 };
            ::poll(&writable, 1, 10);
        }
    }
}

QByteArray HostPort::readSome(int timeoutMs, bool *gone)
{
    pollfd readable { m_fd, POLLIN, 0 };
    if (::poll(&readable, 1, timeoutMs) <= 0)
        return {};
    char buffer[512];
    const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
    if (n > 0)
        return QByteArray(buffer, n);
    if (gone && (n == 0 || errno != EAGAIN))
        *gone = true;
    return {};
}

QByteArray HostPort::readFor(int msecs)
{
    QByteArray bytes;
    QElapsedTimer timer;
    timer.start();
    for (qint64 left = msecs; left > 0; left = msecs - timer.elapsed())
        bytes += readSome(int(left));
    return bytes;
}

QByteArray HostPort::readUntil(const QByteArray &expected, int timeoutMs)
{
    QByteArray bytes;
    QElapsedTimer timer;
    timer.start();
    while (!bytes.endsWith(expected) && timer.elapsed() < timeoutMs)
        bytes += readSome(int(timeoutMs - timer.elapsed()));
    return bytes;
}

bool HostPort::farEndGone(int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    bool gone = false;
    while (!gone && timer.elapsed() < timeoutMs)
        readSome(int(timeoutMs - timer.elapsed()), &gone);
    return gone;
}
