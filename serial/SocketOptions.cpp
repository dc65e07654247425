#include "SocketOptions.h"

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#else
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <cerrno>
#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <QElapsedTimer>

#include <cstring>

namespace quobin {

#ifdef Q_OS_WIN

void setKeepAlive(qintptr descriptor, const KeepAliveTimes &times)
{
    tcp_keepalive values{};
    values.onoff = 1;
    values.keepalivetime = ULONG(times.idleSecs) * 1000;
    values.keepaliveinterval = ULONG(times.intervalSecs) * 1000;
    DWORD returned = 0;
    ::WSAIoctl(SOCKET(descriptor), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr, nullptr);
}

void acknowledgeAtOnce(qintptr)
{
    // Windows has no such switch per read.
}

namespace {
using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;
int lastError() { return ::WSAGetLastError(); }
bool connectPending(int error) { return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS; }
bool refused(int error) { return error == WSAECONNREFUSED; }
void closeSocket(Socket s) { ::closesocket(s); }
void setNonBlocking(Socket s, bool on)
{
    u_long mode = on ? 1 : 0;
    ::ioctlsocket(s, FIONBIO, &mode);
}
int waitWritable(Socket s, int msecs)
{
    WSAPOLLFD state{};
    state.fd = s;
    state.events = POLLWRNORM;
    return ::WSAPoll(&state, 1, msecs);
}
QString errorText(int error) { return QStringLiteral("system error %1").arg(error); }
} // namespace

#else

void setKeepAlive(qintptr descriptor, const KeepAliveTimes &times)
{
    const int fd = int(descriptor);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
#ifdef TCP_KEEPIDLE
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &times.idleSecs, sizeof times.idleSecs);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &times.intervalSecs, sizeof times.intervalSecs);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &times.probes, sizeof times.probes);
#endif
#ifdef TCP_USER_TIMEOUT
    const unsigned int userTimeout = unsigned(times.userTimeoutMsecs);
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
#endif
}

void acknowledgeAtOnce(qintptr descriptor)
{
#ifdef TCP_QUICKACK
    const int on = 1;
    ::setsockopt(int(descriptor), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
#else
    Q_UNUSED(descriptor);
#endif
}

namespace {
using Socket = int;
constexpr Socket kNoSocket = -1;
int lastError() { return errno; }
bool connectPending(int error) { return error == EINPROGRESS || error == EINTR; }
bool refused(int error) { return error == ECONNREFUSED; }
void closeSocket(Socket s) { ::close(s); }
void setNonBlocking(Socket s, bool on)
{
    const int flags = ::fcntl(s, F_GETFL);
    ::fcntl(s, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK);
}
int waitWritable(Socket s, int msecs)
{
    pollfd state{s, POLLOUT, 0};
    return ::poll(&state, 1, msecs);
}
QString errorText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }
} // namespace

#endif

namespace {

// How often a connect in progress looks at the cancel.
constexpr int kCancelCheckMsecs = 50;

// The address as the system takes it; an IPv6 zone by name or number.
socklen_t toSockaddr(const QHostAddress &address, quint16 port, sockaddr_storage &out)
{
    out = sockaddr_storage{};
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto *in = reinterpret_cast<sockaddr_in *>(&out);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        in->sin_addr.s_addr = htonl(address.toIPv4Address());
        return sizeof(sockaddr_in);
    }
    auto *in6 = reinterpret_cast<sockaddr_in6 *>(&out);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(port);
    const Q_IPV6ADDR bytes = address.toIPv6Address();
    std::memcpy(&in6->sin6_addr, bytes.c, 16);
    if (const QString zone = address.scopeId(); !zone.isEmpty()) {
        bool numeric = false;
        const uint index = zone.toUInt(&numeric);
#ifdef Q_OS_WIN
        // Windows names a zone by its interface index.
        in6->sin6_scope_id = numeric ? index : 0;
#else
        in6->sin6_scope_id = numeric ? index : ::if_nametoindex(zone.toLocal8Bit().constData());
#endif
    }
    return sizeof(sockaddr_in6);
}

} // namespace

TcpConnect connectWithin(const QHostAddress &address, quint16 port, int msecs,
                         const std::function<bool()> &cancelRequested)
{
    TcpConnect result;
    sockaddr_storage where{};
    const socklen_t length = toSockaddr(address, port, where);
    const Socket s = ::socket(where.ss_family, SOCK_STREAM, 0);
    if (s == kNoSocket) {
        result.reason = errorText(lastError());
        return result;
    }
    setNonBlocking(s, true);
    int error = 0;
    if (::connect(s, reinterpret_cast<const sockaddr *>(&where), length) != 0)
        error = lastError();
    QElapsedTimer elapsed;
    elapsed.start();
    if (error != 0 && connectPending(error)) {
        for (;;) {
            if (cancelRequested && cancelRequested()) {
                closeSocket(s);
                result.end = TcpConnect::End::Cancelled;
                return result;
            }
            const qint64 left = msecs - elapsed.elapsed();
            if (left <= 0) {
                closeSocket(s);
                result.end = TcpConnect::End::TimedOut;
                return result;
            }
            if (waitWritable(s, int(qMin<qint64>(left, kCancelCheckMsecs))) > 0)
                break;
        }
        socklen_t size = sizeof error;
        if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &size) != 0)
            error = lastError();
    }
    if (error != 0) {
        closeSocket(s);
        result.end = refused(error) ? TcpConnect::End::Refused : TcpConnect::End::Failed;
        result.reason = errorText(error);
        return result;
    }
    setNonBlocking(s, false);
    result.end = TcpConnect::End::Connected;
    result.descriptor = qintptr(s);
    return result;
}

} // namespace quobin
