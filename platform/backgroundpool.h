#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A pool of background threads that runs queued tasks in order. Threads start on demand
// up to a fixed maximum and then stay; a task may block its thread for seconds.
class BackgroundPool final {
public:
    explicit BackgroundPool(int maxThreads);
    // Runs what is queued, then joins. Never called for the process-wide pool, so that
    // quitting never waits for blocked background work.
    ~BackgroundPool();
    BackgroundPool(const BackgroundPool &) = delete;
    BackgroundPool &operator=(const BackgroundPool &) = delete;

    // The process-wide pool. It is never destroyed.
    static BackgroundPool &global();

    // Queues a task and returns at once. Any thread.
    void async(std::function<void()> task);

private:
    void work();

    const int m_maxThreads;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    std::vector<std::thread> m_threads;
    int m_idle = 0;
    bool m_stopping = false;
};
