#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quobin::testing {

// The user that folder permissions are tested as when the tests run as root
// (root writes anywhere): "nobody".
constexpr uid_t unprivilegedUid = 65534;
constexpr gid_t unprivilegedGid = 65534;

// Runs work with the rights of an ordinary user and returns what it returns:
// here when the tests already run as one, else in a child process that has
// become nobody (folders it must reach need to be open to others). Empty with
// *failure set when the child could not be started or did not end well.
inline QByteArray runUnprivileged(const std::function<QByteArray()> &work, QString *failure)
{
    if (::geteuid() != 0)
        return work();
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) {
        *failure = QStringLiteral("pipe() failed");
        return {};
    }
    const pid_t child = ::fork();
    if (child < 0) {
        *failure = QStringLiteral("fork() failed");
        return {};
    }
    if (child == 0) {
        ::close(pipeEnds[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(unprivilegedGid) != 0
            || ::setuid(unprivilegedUid) != 0)
            ::_exit(3);
        const QByteArray result = work();
        qsizetype done = 0;
        while (done < result.size()) {
            const ssize_t n = ::write(pipeEnds[1], result.constData() + done, size_t(result.size() - done));
            if (n <= 0)
                ::_exit(4);
            done += n;
        }
        ::_exit(0);
    }
    ::close(pipeEnds[1]);
    QByteArray result;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0)
        result.append(buffer, n);
    ::close(pipeEnds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        *failure = QStringLiteral("the unprivileged child ended with status %1").arg(status);
        return {};
    }
    return result;
}

} // namespace quobin::testing
