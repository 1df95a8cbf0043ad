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
    m_waiters.push_back(&granted);
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

void Semaphore::signal()
{
    const std::lock_guard lock(m_mutex);
    if (m_waiters.empty()) {
        ++m_count;
        return;
    }
    *m_waiters.front() = true;
    m_waiters.pop_front();
    m_granted.notify_all();
}
