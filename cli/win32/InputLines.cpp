#include "InputLines.h"

#include <QByteArray>

#include <cstdio>

namespace quobin::cli {

InputLines::InputLines(std::function<void(const QString &)> line, std::function<void()> ended)
    : m_line(std::move(line)), m_ended(std::move(ended)), m_stop(std::make_shared<std::atomic<bool>>(false))
{
    // The thread keeps its own copies: it may outlive this object.
    m_thread = std::thread([stop = m_stop, line = m_line, ended = m_ended] {
        char buffer[4096];
        QByteArray pending;
        while (std::fgets(buffer, sizeof buffer, stdin)) {
            if (*stop)
                return;
            pending += buffer;
            if (!pending.endsWith('\n'))
                continue;
            pending.chop(1);
            if (pending.endsWith('\r'))
                pending.chop(1);
            line(QString::fromLocal8Bit(pending));
            pending.clear();
        }
        if (*stop)
            return;
        if (!pending.isEmpty())
            line(QString::fromLocal8Bit(pending));
        ended();
    });
}

// A console read cannot be woken: the reader is left to end with the
// program, and says nothing more once stopped.
InputLines::~InputLines()
{
    *m_stop = true;
    m_thread.detach();
}

void InputLines::read()
{
}

} // namespace quobin::cli
