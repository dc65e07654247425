#include "InputLines.h"

#include <QByteArray>

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace quobin::cli {

namespace {

// How often the reader looks whether it should stop.
constexpr int kStopCheckMsecs = 100;

} // namespace

InputLines::InputLines(std::function<void(const QString &)> line, std::function<void()> ended)
    : m_line(std::move(line)), m_ended(std::move(ended)), m_stop(std::make_shared<std::atomic<bool>>(false))
{
    m_thread = std::thread([this] { read(); });
}

InputLines::~InputLines()
{
    *m_stop = true;
    m_thread.join();
}

// Polls with a short bound, so that the end of the run is seen at once even
// while nobody types.
void InputLines::read()
{
    QByteArray pending;
    char buffer[4096];
    while (!*m_stop) {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const int ready = ::poll(&input, 1, kStopCheckMsecs);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            break;
        pending.append(buffer, n);
        for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            QByteArray text = pending.left(end);
            pending.remove(0, end + 1);
            if (text.endsWith('\r'))
                text.chop(1);
            m_line(QString::fromLocal8Bit(text));
        }
    }
    if (*m_stop)
        return;
    // A last line without its end counts too.
    if (!pending.isEmpty())
        m_line(QString::fromLocal8Bit(pending));
    m_ended();
}

} // namespace quobin::cli
