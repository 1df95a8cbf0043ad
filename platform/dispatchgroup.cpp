#include "platform/dispatchgroup.h"

#include <QtGlobal>

void DispatchGroup::enter()
{
    m_unfinished.fetch_add(1, std::memory_order_relaxed);
}

void DispatchGroup::leave()
{
    m_left.fetch_add(1, std::memory_order_release);
    const long before = m_unfinished.fetch_sub(1, std::memory_order_acq_rel);
    // A count below zero would let a later wait return before the work has ended.
    if (before <= 0)
        qFatal("DispatchGroup::leave() without a matching enter()");
    if (before == 1) {
        // Under the waiter's lock, so that it cannot miss the wake-up between its look at
        // the count and its sleep.
        const std::lock_guard lock(m_mutex);
        m_done.notify_all();
    }
}

void DispatchGroup::wait()
{
    std::unique_lock lock(m_mutex);
    m_done.wait(lock, [this] { return m_unfinished.load(std::memory_order_acquire) == 0; });
}
