#include "QuestionDesk.h"

#include "CancelSignal.h"

#include <QByteArray>

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace quobin::cli {

namespace {

// How often a waiting question looks at the cancel flag.
constexpr int kCancelCheckMsecs = 100;

} // namespace

bool QuestionDesk::inputIsTerminal() const
{
    return ::isatty(m_inputFd);
}

// Reads one line byte by byte, so that nothing after it is taken from the
// next question; polls with a short bound so that a cancel is seen at once.
QString QuestionDesk::readAnswer(bool &interrupted)
{
    QByteArray line;
    while (!m_inputEnded) {
        if (CancelSignal::requested()) {
            interrupted = true;
            return {};
        }
        pollfd input{m_inputFd, POLLIN, 0};
        const int ready = ::poll(&input, 1, kCancelCheckMsecs);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        char byte = 0;
        const ssize_t n = ::read(m_inputFd, &byte, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_inputEnded = true;
            break;
        }
        if (byte == '\n')
            return QString::fromLocal8Bit(line);
        line += byte;
    }
    return QString::fromLocal8Bit(line);
}

} // namespace quobin::cli
