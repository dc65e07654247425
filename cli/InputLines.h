#pragma once

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace quobin::cli {

// Standard input read line by line on a thread of its own: each line,
// without its end, goes to line(), and ended() is called once at the end of
// the input. Reading stops when this is destroyed.
class InputLines {
public:
    InputLines(std::function<void(const QString &)> line, std::function<void()> ended);
    ~InputLines();

    InputLines(const InputLines &) = delete;
    InputLines &operator=(const InputLines &) = delete;

private:
    void read();

    const std::function<void(const QString &)> m_line;
    const std::function<void()> m_ended;
    std::shared_ptr<std::atomic<bool>> m_stop;
    std::thread m_thread;
};

} // namespace quobin::cli
