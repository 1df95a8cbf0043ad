#include "scan/addresswalk.h"

std::optional<QString> AddressWalk::next()
{
    for (; m_current < m_ranges.size(); ++m_current, m_next.reset()) {
        const IpRange &range = m_ranges.at(m_current);
        if (!m_next)
            m_next = range.begin();
        if (*m_next != range.end()) {
            QString address = **m_next;
            ++*m_next;
            return address;
        }
    }
    return std::nullopt;
}
