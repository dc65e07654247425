#include "QuestionDesk.h"

#include "CancelSignal.h"
#include "Printer.h"

#include <QByteArray>

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace quobin::cli {

namespace {

// How often a waiting question looks at the cancel flag.
constexpr int kCancelCheckMsecs = 100;

} // namespace

bool QuestionDesk::ask(int port, const QString &text, bool &interrupted)
{
    std::lock_guard lock(m_oneAtATime);
    interrupted = false;
    m_printer.beginQuestion(port, text);
    const QString answer = readAnswer(interrupted).trimmed().toLower();
    // A terminal has echoed the answer and its line end; anything else has not.
    m_printer.endQuestion(!::isatty(m_inputFd), answer);
    return answer == QLatin1String("y") || answer == QLatin1String("yes");
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
