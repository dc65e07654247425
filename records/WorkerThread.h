#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>

namespace quobin::records {

// One thread that runs the calls given to it, one at a time, in the order
// given. A database connection may only be used by the thread that opened
// it: a store keeps its connection on such a thread and every caller, from
// whatever thread, hands its work over.
class WorkerThread {
public:
    WorkerThread();
    // Runs the calls already given, then ends the thread.
    ~WorkerThread();
    WorkerThread(const WorkerThread &) = delete;
    WorkerThread &operator=(const WorkerThread &) = delete;

    // Runs work on the thread and returns its result, or throws what it threw.
    template<typename Work>
    auto run(Work &&work) -> std::invoke_result_t<Work>
    {
        using Result = std::invoke_result_t<Work>;
        auto task = std::make_shared<std::packaged_task<Result()>>(std::forward<Work>(work));
        std::future<Result> result = task->get_future();
        post([task] { (*task)(); });
        return result.get();
    }

private:
    void post(std::function<void()> call);
    void loop();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_calls;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace quobin::records
