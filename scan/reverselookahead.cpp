#include "scan/reverselookahead.h"

#include "platform/backgroundpool.h"

namespace {

// Threads that may block for as long as a resolver takes, apart from the pool the runs and
// probes use, so that slow look-ups never hold anything else up.
BackgroundPool &lookupPool(int depth)
{
    static BackgroundPool *const pool = new BackgroundPool(depth); // never destroyed
    return *pool;
}

} // namespace

ReverseLookAhead::ReverseLookAhead(const IpRange &range, std::shared_ptr<Resolver> resolver, int depth)
    : m_next(range.begin()), m_end(range.end()), m_resolver(std::move(resolver)), m_depth(std::size_t(depth))
{
    topUp();
}

ReverseLookAhead::~ReverseLookAhead() = default;

void ReverseLookAhead::topUp()
{
    while (m_ahead.size() < m_depth && m_next != m_end) {
        auto lookup = std::make_shared<Lookup>();
        lookup->ipAddress = *m_next;
        ++m_next;
        m_ahead.push_back(lookup);
        lookupPool(int(m_depth)).async([lookup, shared = m_shared, resolver = m_resolver] {
            std::optional<QString> name = resolver->hostName(lookup->ipAddress);
            const std::lock_guard lock(shared->mutex);
            lookup->name = std::move(name);
            lookup->done = true;
            shared->done.notify_all();
        });
    }
}

bool ReverseLookAhead::next(Address &address)
{
    std::shared_ptr<Lookup> front;
    {
        if (m_ahead.empty())
            return false;
        front = std::move(m_ahead.front());
        m_ahead.pop_front();
        std::unique_lock lock(m_shared->mutex);
        m_shared->done.wait(lock, [&] { return front->done; });
        address.ipAddress = front->ipAddress;
        address.redirectAddress = front->name.value_or(front->ipAddress);
    }
    topUp();
    return true;
}
