#include "scan/iprange.h"

#include "platform/addresstext.h"

#include <algorithm>
#include <cstdint>

IpRange::IpRange(const std::array<OctetBounds, 4> &table)
{
    qint64 size = 1;
    for (std::size_t k = 0; k < table.size(); ++k) {
        const auto [low, high] = table[k];
        if (low > high)
            return;
        // Unsigned, so that even the widest pair has a difference.
        const std::uint64_t span = std::uint64_t(high) - std::uint64_t(low);
        if (span >= std::uint64_t(maxSize))
            return;
        m_low[k] = low;
        m_high[k] = high;
        m_count[k] = qint64(span) + 1;
        size *= m_count[k];
        if (size > maxSize)
            return;
    }
    m_size = size;
}

IpRange IpRange::literal(const QString &text)
{
    IpRange range;
    range.m_literal = text;
    range.m_isLiteral = true;
    range.m_size = 1;
    return range;
}

bool IpRange::contains(QStringView address) const
{
    if (m_isLiteral)
        return m_size != 0 && address == m_literal;
    const std::optional<std::array<qint64, 4>> octets = canonicalOctets(address);
    if (m_size == 0 || !octets)
        return false;
    for (std::size_t k = 0; k < octets->size(); ++k) {
        if ((*octets)[k] < m_low[k] || (*octets)[k] > m_high[k])
            return false;
    }
    return true;
}

QString IpRange::at(qint64 i) const
{
    Q_ASSERT(i >= 0 && i < m_size);
    if (m_isLiteral)
        return m_literal;
    QString text;
    writeAddressText(text, octetsAt(i));
    return text;
}

IpRange::iterator IpRange::begin() const
{
    return iterator(this, 0);
}

IpRange::iterator IpRange::end() const
{
    return iterator(this, m_size);
}

std::array<qint64, 4> IpRange::octetsAt(qint64 i) const
{
    std::array<qint64, 4> octets;
    for (std::size_t k = octets.size(); k-- > 0;) {
        octets[k] = m_low[k] + i % m_count[k];
        i /= m_count[k];
    }
    return octets;
}

IpRange::iterator::iterator(const IpRange *range, qint64 index)
    : m_range(range), m_index(index)
{
    if (index >= range->m_size)
        return;
    if (range->m_isLiteral) {
        m_text = range->m_literal;
        return;
    }
    m_octets = range->octetsAt(index);
    writeAddressText(m_text, m_octets);
}

IpRange::iterator &IpRange::iterator::operator++()
{
    if (++m_index >= m_range->m_size)
        return *this;
    // An odometer: the last octet turns fastest and carries into the one before it.
    for (std::size_t k = m_octets.size(); k-- > 0;) {
        if (m_octets[k] < m_range->m_high[k]) {
            ++m_octets[k];
            break;
        }
        m_octets[k] = m_range->m_low[k];
    }
    writeAddressText(m_text, m_octets);
    return *this;
}
