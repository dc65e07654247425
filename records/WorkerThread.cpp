#include "WorkerThread.h"

namespace quobin::records {

WorkerThread::WorkerThread()
    : m_thread([this] { loop(); })
{
}

WorkerThread::~WorkerThread()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void WorkerThread::post(std::function<void()> call)
{
    {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(std::move(call));
    }
    m_wake.notify_one();
}

void WorkerThread::loop()
{
    for (;;) {
        std::function<void()> call;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_calls.empty(); });
            if (m_calls.empty())
                return;
            call = std::move(m_calls.front());
            m_calls.pop_front();
        }
        call();
    }
}

} // namespace quobin::records
