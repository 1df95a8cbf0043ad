#include "platform/backgroundpool.h"

#include <pthread.h>

BackgroundPool::BackgroundPool(int maxThreads) : m_maxThreads(maxThreads) {}

BackgroundPool::~BackgroundPool()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (std::thread &thread : m_threads)
        thread.join();
}

BackgroundPool &BackgroundPool::global()
{
    // A run blocks one thread for its whole length and everything else is short, so a
    // small fixed number of threads is plenty.
    static BackgroundPool *const pool = new BackgroundPool(16);
    return *pool;
}

void BackgroundPool::async(std::function<void()> task)
{
    const std::lock_guard lock(m_mutex);
    m_tasks.push_back(std::move(task));
    if (m_tasks.size() > size_t(m_idle) && int(m_threads.size()) < m_maxThreads)
        m_threads.emplace_back([this] { work(); });
    else
        m_wake.notify_one();
}

void BackgroundPool::work()
{
    pthread_setname_np(pthread_self(), "background");
    std::unique_lock lock(m_mutex);
    for (;;) {
        ++m_idle;
        m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
        --m_idle;
        if (m_tasks.empty())
            return;
        std::function<void()> task = std::move(m_tasks.front());
        m_tasks.pop_front();
        lock.unlock();
        task();
        task = nullptr; // drop what the task holds before waiting again
        lock.lock();
    }
}
