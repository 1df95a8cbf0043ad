#include "probes/unaskedaddresses.h"

#include <iterator>

void UnaskedAddresses::add(const Address &address)
{
    if (!m_exact)
        return;
    const std::optional<quint32> ip = address.ipv4();
    if (!ip) {
        m_exact = false;
        m_intervals.clear();
        return;
    }
    // An interval that ends right below the address, and one that starts right above it,
    // join it.
    quint32 first = *ip;
    quint32 last = *ip;
    const auto next = m_intervals.upper_bound(*ip);
    if (next != m_intervals.begin()) {
        const auto before = std::prev(next);
        if (before->second >= *ip)
            return; // already in
        if (before->second + 1 == *ip) {
            first = before->first;
            m_intervals.erase(before);
        }
    }
    if (next != m_intervals.end() && next->first == *ip + 1) {
        last = next->second;
        m_intervals.erase(next);
    }
    if (m_intervals.size() == maxIntervals) {
        m_exact = false;
        m_intervals.clear();
        return;
    }
    m_intervals.emplace(first, last);
}

bool UnaskedAddresses::contains(const Address &address) const
{
    const std::optional<quint32> ip = address.ipv4();
    if (!ip)
        return false;
    const auto next = m_intervals.upper_bound(*ip);
    return next != m_intervals.begin() && std::prev(next)->second >= *ip;
}
