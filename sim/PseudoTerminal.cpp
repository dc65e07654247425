#include "PseudoTerminal.h"

#include "SimulatorError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace quobin::sim {

namespace {

std::string systemError(const char *what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

int baudOf(speed_t speed)
{
    switch (speed) {
    case B0: return 0;
    case B50: return 50;
    case B75: return 75;
    case B110: return 110;
    case B134: return 134;
    case B150: return 150;
    case B200: return 200;
    case B300: return 300;
    case B600: return 600;
    case B1200: return 1200;
    case B1800: return 1800;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    case B460800: return 460800;
    case B921600: return 921600;
    default: return -1;
    }
}

} // namespace

PseudoTerminal::PseudoTerminal()
{
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
        throw SimulatorError(systemError("openpty"));
    m_slavePath = QString::fromLocal8Bit(name);

    // Start from the kernel's defaults: a zero-filled termios would also set
    // the XON and XOFF characters to 0.
    termios settings {};
    if (::tcgetattr(m_slave, &settings) != 0) {
        const std::string reason = systemError("tcgetattr");
        close();
        throw SimulatorError(reason);
    }
    ::cfmakeraw(&settings);
    if (::tcsetattr(m_slave, TCSANOW, &settings) != 0) {
        const std::string reason = systemError("tcsetattr");
        close();
        throw SimulatorError(reason);
    }
    const int flags = ::fcntl(m_master, F_GETFL);
    ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
}

PseudoTerminal::~PseudoTerminal()
{
    close();
}

QByteArray PseudoTerminal::read(qsizetype maxBytes)
{
    if (m_master < 0 || maxBytes <= 0)
        return {};
    QByteArray bytes(maxBytes, Qt::Uninitialized);
    ssize_t n;
    do {
        n = ::read(m_master, bytes.data(), size_t(maxBytes));
    } while (n < 0 && errno == EINTR);
    if (n <= 0)
        return {};
    bytes.truncate(n);
    return bytes;
}

bool PseudoTerminal::writeAll(const QByteArray &bytes, int timeoutMs)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        if (m_master < 0)
            return false;
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return false;
        pollfd writable { m_master, POLLOUT, 0 };
        if (::poll(&writable, 1, timeoutMs) <= 0)
            return false;
    }
    return true;
}

LineSettings PseudoTerminal::lineSettings() const
{
    termios settings {};
    if (m_master < 0 || ::tcgetattr(m_master, &settings) != 0)
        return {};
    LineSettings line;
    line.baud = baudOf(::cfgetospeed(&settings));
    if (baudOf(::cfgetispeed(&settings)) != line.baud && baudOf(::cfgetispeed(&settings)) != 0)
        line.baud = -1; // split speeds: no single baud rate the controller could match
    line.ixon = settings.c_iflag & IXON;
    line.ixoff = settings.c_iflag & IXOFF;
    line.ixany = settings.c_iflag & IXANY;
    return line;
}

void PseudoTerminal::close()
{
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = -1;
    m_slave = -1;
}

} // namespace quobin::sim
