#include "sweep/sweepschedule.h"

#include <algorithm>
#include <vector>

namespace {

// An address on one interface, as one key.
std::uint64_t knownKey(quint32 address, int interfaceIndex)
{
    return std::uint64_t(address) << 32 | quint32(interfaceIndex);
}

} // namespace

SweepSchedule::SweepSchedule(Source addresses, Clock::time_point now, std::optional<ArpPace> pace)
    : m_source(std::move(addresses)), m_heldUntil(now + dumpWait), m_sends(maxSendRate, now), m_pace(std::move(pace)),
      m_slot(now)
{
}

void SweepSchedule::heard(const NeighbourEntry &entry)
{
    if (entry.state == NeighbourState::Unknown)
        return;
    const auto [begin, end] = m_unsettled.equal_range(entry.address);
    std::vector<std::uint64_t> positions;
    for (auto it = begin; it != end; ++it) {
        if (at(it->second).interfaceIndex == entry.interfaceIndex)
            positions.push_back(it->second);
    }
    // A word that settles a given address need not be kept for later.
    const std::uint64_t key = knownKey(entry.address, entry.interfaceIndex);
    if (entry.state == NeighbourState::Nobody)
        m_known.erase(key);
    else if (positions.empty() && m_known.size() < maxKnown)
        m_known.insert(key);
    for (const std::uint64_t position : positions) {
        if (entry.state == NeighbourState::Someone)
            settle(position, SweepVerdict::Kind::Someone);
        else if (at(position).step == Step::Sent)
            settle(position, SweepVerdict::Kind::Nobody);
    }
    pruneExpiries();
}

void SweepSchedule::dumpEnded()
{
    m_heldUntil.reset();
}

void SweepSchedule::wordsLost(Clock::time_point now)
{
    m_heldUntil = now + dumpWait;
}

std::optional<quint32> SweepSchedule::dueSend(Clock::time_point now)
{
    expire(now);
    fill();
    if (m_heldUntil && now < *m_heldUntil)
        return std::nullopt;
    m_heldUntil.reset();
    m_nextSend = firstWaiting();
    if (m_nextSend == m_first + m_window.size() || m_unresolved >= maxUnresolved)
        return std::nullopt;
    updateSlot(now);
    if (m_slot > now)
        return std::nullopt;
    return at(m_nextSend).address;
}

void SweepSchedule::sent(quint32 address, Clock::time_point now)
{
    m_nextSend = firstWaiting();
    if (m_nextSend == m_first + m_window.size() || at(m_nextSend).address != address)
        return;
    Entry &entry = at(m_nextSend);
    entry.step = Step::Sent;
    entry.sentAt = now;
    ++m_unresolved;
    m_expiries.push_back(m_nextSend);
    m_sends.spend(ArpPace::Ask::Request, now);
    if (m_pace)
        m_pace->spend(ArpPace::Ask::Kernel, now);
    updateSlot(now);
}

void SweepSchedule::sendFailed(quint32 address)
{
    m_nextSend = firstWaiting();
    if (m_nextSend != m_first + m_window.size() && at(m_nextSend).address == address)
        settle(m_nextSend, SweepVerdict::Kind::NoWord);
}

std::optional<SweepVerdict> SweepSchedule::nextVerdict(Clock::time_point now)
{
    expire(now);
    fill();
    if (m_window.empty() || m_window.front().step != Step::Settled)
        return std::nullopt;
    const SweepVerdict verdict{m_window.front().address, m_window.front().kind};
    m_window.pop_front();
    ++m_first;
    m_nextSend = std::max(m_nextSend, m_first);
    return verdict;
}

std::optional<SweepSchedule::Clock::time_point> SweepSchedule::wakeAt() const
{
    if (m_sourcePaused)
        return Clock::time_point();
    std::optional<Clock::time_point> when;
    if (!m_expiries.empty())
        when = at(m_expiries.front()).sentAt + wordWait;
    if (firstWaiting() != m_first + m_window.size() && m_unresolved < maxUnresolved) {
        const Clock::time_point send = m_heldUntil ? *m_heldUntil : m_slot;
        when = when ? std::min(*when, send) : send;
    }
    return when;
}

void SweepSchedule::updateSlot(Clock::time_point now)
{
    // The first time both allow: each moves it on only as far as it must.
    m_slot = now;
    for (Clock::time_point last = Clock::time_point::min(); last != m_slot;) {
        last = m_slot;
        m_slot = m_sends.slot(ArpPace::Ask::Request, m_slot);
        if (m_pace)
            m_slot = m_pace->slot(ArpPace::Ask::Kernel, m_slot);
    }
}

void SweepSchedule::fill()
{
    m_sourcePaused = false;
    while (!m_sourceEnded && m_window.size() < maxAhead) {
        const auto [address, more, interfaceIndex] = m_source();
        if (!address && more) {
            m_sourcePaused = true;
            return;
        }
        if (!address) {
            m_sourceEnded = true;
            m_source = nullptr; // whatever it holds goes now
            return;
        }
        const std::uint64_t position = m_first + m_window.size();
        m_window.push_back({*address, interfaceIndex, Step::Waiting, SweepVerdict::Kind::NoWord, {}});
        if (m_known.erase(knownKey(*address, interfaceIndex)) > 0)
            settle(position, SweepVerdict::Kind::Someone);
        else
            m_unsettled.emplace(*address, position);
    }
}

void SweepSchedule::settle(std::uint64_t position, SweepVerdict::Kind kind)
{
    Entry &entry = at(position);
    if (entry.step == Step::Settled)
        return;
    if (entry.step == Step::Sent)
        --m_unresolved;
    entry.step = Step::Settled;
    entry.kind = kind;
    const auto [begin, end] = m_unsettled.equal_range(entry.address);
    const auto found = std::find_if(begin, end, [position](const auto &pair) { return pair.second == position; });
    if (found != end)
        m_unsettled.erase(found);
}

void SweepSchedule::expire(Clock::time_point now)
{
    pruneExpiries();
    while (!m_expiries.empty() && at(m_expiries.front()).sentAt + wordWait <= now) {
        settle(m_expiries.front(), SweepVerdict::Kind::NoWord);
        pruneExpiries();
    }
}

void SweepSchedule::pruneExpiries()
{
    while (!m_expiries.empty() && at(m_expiries.front()).step == Step::Settled)
        m_expiries.pop_front();
}

std::uint64_t SweepSchedule::firstWaiting() const
{
    std::uint64_t position = std::max(m_nextSend, m_first);
    while (position < m_first + m_window.size() && at(position).step != Step::Waiting)
        ++position;
    return position;
}
