#include "platform/stoptoken.h"

StopRegistration::StopRegistration(StopRegistration &&other) noexcept
    : m_token(std::move(other.m_token)), m_id(other.m_id)
{
}

StopRegistration &StopRegistration::operator=(StopRegistration &&other) noexcept
{
    if (this != &other) {
        reset();
        m_token = std::move(other.m_token);
        m_id = other.m_id;
    }
    return *this;
}

void StopRegistration::reset()
{
    if (const std::shared_ptr<StopToken> token = std::move(m_token))
        token->unregister(m_id);
}

void StopToken::stop()
{
    const std::lock_guard lock(m_mutex);
    if (m_stopped.exchange(true, std::memory_order_acq_rel))
        return;
    for (const auto &[id, waker] : m_wakers)
        waker();
    m_wakers.clear();
}

StopRegistration StopToken::onStop(std::function<void()> waker)
{
    {
        const std::lock_guard lock(m_mutex);
        if (!isStopped()) {
            const std::uint64_t id = m_nextId++;
            m_wakers.emplace(id, std::move(waker));
            return StopRegistration(shared_from_this(), id);
        }
    }
    waker();
    return {};
}

void StopToken::unregister(std::uint64_t id)
{
    const std::lock_guard lock(m_mutex);
    m_wakers.erase(id);
}
