#include "HostLookup.h"

#include "SerialError.h"

#include <QElapsedTimer>

#include <chrono>
#include <cstring>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <sys/socket.h>
#endif

namespace quobin {

namespace {

// How often a waiting caller looks at the cancel.
constexpr int kCancelCheckMsecs = 50;

// What the look-up thread and its caller share; the thread owns a share,
// so that a caller that has stopped waiting leaves it intact.
struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int status = 0;
    std::vector<sockaddr_storage> addresses;
};

void resolve(const std::shared_ptr<Lookup> &lookup, const std::string &host)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const int status = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    std::vector<sockaddr_storage> addresses;
    for (const addrinfo *entry = found; status == 0 && entry; entry = entry->ai_next) {
        if (entry->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        sockaddr_storage address{};
        std::memcpy(&address, entry->ai_addr, entry->ai_addrlen);
        addresses.push_back(address);
    }
    if (found)
        ::freeaddrinfo(found);
    std::lock_guard lock(lookup->mutex);
    lookup->status = status;
    lookup->addresses = std::move(addresses);
    lookup->finished = true;
    lookup->done.notify_all();
}

[[noreturn]] void fail(const QString &reason)
{
    throw SerialError(reason.toStdString());
}

} // namespace

QList<QHostAddress> lookUpHost(const QString &host, int limitMsecs, const std::function<bool()> &cancelRequested)
{
    if (const QHostAddress literal(host); !literal.isNull())
        return {literal};
    auto lookup = std::make_shared<Lookup>();
    std::thread(resolve, lookup, host.toStdString()).detach();
    QElapsedTimer waited;
    waited.start();
    std::unique_lock lock(lookup->mutex);
    while (!lookup->finished) {
        if (cancelRequested && cancelRequested())
            throw SerialCancelled(QStringLiteral("cancelled while looking up host %1").arg(host).toStdString());
        const qint64 left = limitMsecs - waited.elapsed();
        if (left <= 0)
            fail(QStringLiteral("the look-up of host %1 found no answer within %2 s (is a name server reachable?)")
                     .arg(host)
                     .arg(double(limitMsecs) / 1000.0, 0, 'g', 3));
        lookup->done.wait_for(lock, std::chrono::milliseconds(qMin<qint64>(left, kCancelCheckMsecs)));
    }
    QList<QHostAddress> addresses;
    for (const sockaddr_storage &address : lookup->addresses)
        addresses << QHostAddress(reinterpret_cast<const sockaddr *>(&address));
    if (lookup->status == EAI_AGAIN)
        fail(QStringLiteral("the look-up of host %1 failed for now: the name server did not answer").arg(host));
    if (lookup->status != 0 || addresses.isEmpty())
        fail(QStringLiteral("unknown host %1").arg(host));
    return addresses;
}

} // namespace quobin
