#include "platform/dispatchgroup.h"

#include <QtGlobal>

void DispatchGroup::enter()
{
    const std::lock_guard lock(m_mutex);
    ++m_unfinished;
}

void DispatchGroup::leave()
{
    const std::lock_guard lock(m_mutex);
    // A count below zero would let a later wait return before the work has ended.
    if (m_unfinished == 0)
        qFatal("DispatchGroup::leave() without a matching enter()");
    ++m_left;
    if (--m_unfinished == 0)
        m_done.notify_all();
}

long DispatchGroup::left() const
{
    const std::lock_guard lock(m_mutex);
    return m_left;
}

void DispatchGroup::wait()
{
    std::unique_lock lock(m_mutex);
    m_done.wait(lock, [this] { return m_unfinished == 0; });
}
