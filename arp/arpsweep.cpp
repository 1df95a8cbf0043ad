#include "arp/arpsweep.h"

#include <algorithm>
#include <utility>

ArpSweep::ArpSweep(std::vector<ArpRange> ranges, std::uint32_t rate, const ArpReply &own, Clock::time_point now,
                   const std::vector<ArpPace::Request> &held)
    : m_own(own), m_ranges(std::move(ranges)), m_pace(std::clamp<std::uint32_t>(rate, 1, maxRate), now), m_slot(now)
{
    for (const ArpPace::Request &request : held)
        m_pace.hold(request);
    fill();
}

std::optional<ArpSweep::Send> ArpSweep::dueSend(Clock::time_point now)
{
    expire(now);
    fill();
    // Past the interface's own address, answered without a request.
    m_nextNew = std::max(m_nextNew, m_first);
    while (m_nextNew < m_first + m_window.size() && at(m_nextNew).step != Step::Waiting)
        ++m_nextNew;
    m_due = nextSend(now);
    if (!m_due)
        return std::nullopt;
    m_slot = m_pace.slot(ArpPace::Ask::Request, now);
    if (m_slot > now) {
        m_due.reset();
        return std::nullopt;
    }
    return Send{m_due->first, at(m_due->second).address};
}

void ArpSweep::sent(Clock::time_point now)
{
    if (!m_due)
        return;
    const auto [kind, position] = *std::exchange(m_due, std::nullopt);
    Entry &entry = at(position);
    if (kind == Send::Kind::Resolve) {
        m_answered.pop_front();
        entry.step = Step::Settled;
    } else if (entry.step == Step::Waiting) {
        entry.step = Step::AskedOnce;
        m_askedOnce.push_back(position);
        m_asked.emplace(entry.address, position);
        m_nextNew = position + 1;
        ++m_sent;
    } else if (!m_askedOnce.empty() && m_askedOnce.front() == position) {
        m_askedOnce.pop_front();
        prune(m_askedOnce);
        entry.step = Step::AskedTwice;
        m_askedTwice.push_back(position);
        ++m_sent;
    }
    entry.askedAt = now;
    m_pace.spend(ArpPace::Ask::Request, now);
    m_slot = m_pace.slot(ArpPace::Ask::Request, now);
}

bool ArpSweep::heard(const ArpReply &reply)
{
    const auto [begin, end] = m_asked.equal_range(reply.sender);
    if (begin == end)
        return false;
    for (auto it = begin; it != end; ++it) {
        Entry &entry = at(it->second);
        entry.step = Step::Answered;
        entry.mac = reply.senderMac;
        m_answered.push_back(it->second);
    }
    m_asked.erase(begin, end);
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
        const Clock::time_point retry = std::max(at(m_askedOnce.front()).askedAt + retryWait, m_slot);
        when = when ? std::min(*when, retry) : retry;
    }
    if (!m_answered.empty() || m_nextNew < m_first + m_window.size())
        when = when ? std::min(*when, m_slot) : m_slot;
    return when;
}

bool ArpSweep::isFinished() const
{
    return m_window.empty() && m_range == m_ranges.size();
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

std::optional<std::pair<ArpSweep::Send::Kind, std::uint64_t>> ArpSweep::nextSend(Clock::time_point now) const
{
    // The answered first: their verdicts wait for it, and the walk may need them next; then
    // second requests, whose addresses wait for a verdict too.
    if (!m_answered.empty())
        return std::pair{Send::Kind::Resolve, m_answered.front()};
    if (!m_askedOnce.empty() && at(m_askedOnce.front()).askedAt + retryWait <= now)
        return std::pair{Send::Kind::Request, m_askedOnce.front()};
    if (m_nextNew < m_first + m_window.size())
        return std::pair{Send::Kind::Request, m_nextNew};
    return std::nullopt;
}

void ArpSweep::prune(std::deque<std::uint64_t> &queue) const
{
    while (!queue.empty() && (queue.front() < m_first || at(queue.front()).step >= Step::Answered))
        queue.pop_front();
}
