#include "platform/semaphore.h"

Semaphore::Semaphore(int count) : m_count(count) {}

void Semaphore::wait()
{
    std::unique_lock lock(m_mutex);
    if (m_count > 0) {
        --m_count;
        return;
    }
    bool granted = false;
    m_waiters.push_back({{}, nullptr, &granted});
    m_granted.wait(lock, [&] { return granted; });
}

bool Semaphore::tryWait()
{
    const std::lock_guard lock(m_mutex);
    if (m_count == 0)
        return false;
    --m_count;
    return true;
}

void Semaphore::waitAsync(std::function<void()> task, BackgroundPool &pool)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_count == 0) {
            m_waiters.push_back({std::move(task), &pool, nullptr});
            return;
        }
        --m_count;
    }
    pool.async(std::move(task));
}

void Semaphore::signal()
{
    Waiter next;
    {
        const std::lock_guard lock(m_mutex);
        if (m_waiters.empty()) {
            ++m_count;
            return;
        }
        next = std::move(m_waiters.front());
        m_waiters.pop_front();
        if (next.granted) {
            *next.granted = true;
            m_granted.notify_all();
            return;
        }
    }
    next.pool->async(std::move(next.task));
}
