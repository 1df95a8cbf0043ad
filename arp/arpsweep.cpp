#include "arp/arpsweep.h"

#include <algorithm>

ArpSweep::ArpSweep(std::vector<ArpRange> ranges, std::uint32_t rate, const ArpReply &own, Clock::time_point now)
    : m_own(own), m_ranges(std::move(ranges)),
      // One nanosecond more than an even share: rate + 1 requests span more than a second.
      m_rate(std::clamp<std::uint32_t>(rate, 1, maxRate)),
      m_interval(std::chrono::nanoseconds(1'000'000'000 / m_rate + 1)), m_nextAt(now)
{
    fill();
}

std::optional<std::uint32_t> ArpSweep::dueRequest(Clock::time_point now)
{
    expire(now);
    fill();
    // Past the interface's own address, answered without a request.
    m_nextNew = std::max(m_nextNew, m_first);
    while (m_nextNew < m_first + m_window.size() && at(m_nextNew).step != Step::Waiting)
        ++m_nextNew;
    if (now < nextSlot())
        return std::nullopt;
    const std::optional<std::uint64_t> position = nextRequest(now);
    if (!position)
        return std::nullopt;
    return at(*position).address;
}

void ArpSweep::sent(Clock::time_point now)
{
    const std::optional<std::uint64_t> position = nextRequest(now);
    if (!position)
        return;
    Entry &entry = at(*position);
    if (entry.step == Step::Waiting) {
        entry.step = Step::AskedOnce;
        m_askedOnce.push_back(*position);
        m_asked.emplace(entry.address, *position);
        m_nextNew = *position + 1;
    } else {
        m_askedOnce.pop_front();
        prune(m_askedOnce);
        entry.step = Step::AskedTwice;
        m_askedTwice.push_back(*position);
    }
    entry.askedAt = now;
    ++m_sent;
    spend(now);
}

bool ArpSweep::heard(const ArpReply &reply, Clock::time_point now)
{
    const auto [begin, end] = m_asked.equal_range(reply.sender);
    if (begin == end)
        return false;
    for (auto it = begin; it != end; ++it) {
        Entry &entry = at(it->second);
        entry.step = Step::Settled;
        entry.mac = reply.senderMac;
    }
    m_asked.erase(begin, end);
    spend(now);
    prune(m_askedOnce);
    prune(m_askedTwice);
    return true;
}

std::optional<ArpSweep::Verdict> ArpSweep::nextVerdict(Clock::time_point now)
{
    expire(now);
    if (m_window.empty() || m_window.front().step != Step::Settled)
        return std::nullopt;
    Verdict verdict{m_window.front().address, m_window.front().mac};
    m_window.pop_front();
    ++m_first;
    fill();
    return verdict;
}

std::optional<ArpSweep::Clock::time_point> ArpSweep::wakeAt() const
{
    if (isFinished())
        return std::nullopt;
    std::optional<Clock::time_point> when;
    if (!m_askedTwice.empty())
        when = at(m_askedTwice.front()).askedAt + replyWait;
    if (!m_askedOnce.empty()) {
        const Clock::time_point retry = std::max(at(m_askedOnce.front()).askedAt + retryWait, nextSlot());
        when = when ? std::min(*when, retry) : retry;
    }
    if (m_nextNew < m_first + m_window.size())
        when = when ? std::min(*when, nextSlot()) : nextSlot();
    return when;
}

bool ArpSweep::isFinished() const
{
    return m_window.empty() && m_range == m_ranges.size();
}

ArpSweep::Clock::time_point ArpSweep::nextSlot() const
{
    if (m_recent.size() < m_rate)
        return m_nextAt;
    return std::max(m_nextAt, m_recent.front() + std::chrono::seconds(1) + std::chrono::nanoseconds(1));
}

void ArpSweep::spend(Clock::time_point now)
{
    m_recent.push_back(now);
    if (m_recent.size() > m_rate)
        m_recent.pop_front();
    // A slot missed by a late wake-up is made up, within the second's count: a helper that
    // wakes late each time keeps its pace. After a pause the pace starts again from now.
    m_nextAt = (now - m_nextAt > maxCatchUp ? now : m_nextAt) + m_interval;
}

void ArpSweep::fill()
{
    while (m_window.size() < maxAhead && m_range < m_ranges.size()) {
        const ArpRange &range = m_ranges[m_range];
        const std::uint32_t address = std::uint32_t(range.first + m_nextInRange);
        if (address == m_own.sender)
            m_window.push_back({address, Step::Settled, {}, m_own.senderMac});
        else
            m_window.push_back({address, Step::Waiting, {}, {}});
        if (range.first + m_nextInRange == range.last) {
            ++m_range;
            m_nextInRange = 0;
        } else {
            ++m_nextInRange;
        }
    }
}

void ArpSweep::expire(Clock::time_point now)
{
    prune(m_askedOnce);
    prune(m_askedTwice);
    while (!m_askedTwice.empty() && at(m_askedTwice.front()).askedAt + replyWait <= now) {
        Entry &entry = at(m_askedTwice.front());
        m_askedTwice.pop_front();
        entry.step = Step::Settled;
        const auto [begin, end] = m_asked.equal_range(entry.address);
        for (auto it = begin; it != end; ++it) {
            if (&at(it->second) == &entry) {
                m_asked.erase(it);
                break;
            }
        }
        prune(m_askedTwice);
    }
}

std::optional<std::uint64_t> ArpSweep::nextRequest(Clock::time_point now) const
{
    // Second requests first: their addresses wait for a verdict the walk may need next.
    if (!m_askedOnce.empty() && at(m_askedOnce.front()).askedAt + retryWait <= now)
        return m_askedOnce.front();
    if (m_nextNew < m_first + m_window.size())
        return m_nextNew;
    return std::nullopt;
}

void ArpSweep::prune(std::deque<std::uint64_t> &queue) const
{
    while (!queue.empty() && (queue.front() < m_first || at(queue.front()).step == Step::Settled))
        queue.pop_front();
}
