#include "scan/iprange.h"

#include <algorithm>
#include <cstdint>

namespace {

char16_t *appendDecimal(char16_t *out, qint64 value)
{
    // Through the unsigned magnitude, so the most negative value has one too.
    std::uint64_t magnitude = value < 0 ? 0 - std::uint64_t(value) : std::uint64_t(value);
    if (value < 0)
        *out++ = u'-';
    std::array<char16_t, 20> digits;
    std::size_t count = 0;
    do {
        digits[count++] = char16_t(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    while (count != 0)
        *out++ = digits[--count];
    return out;
}

// Rewrites `text` in place: no allocation while nobody else shares it.
void writeAddress(QString &text, const std::array<qint64, 4> &octets)
{
    std::array<char16_t, 4 * 20 + 3> buffer; // four of "-9223372036854775808" and three dots
    char16_t *end = buffer.data();
    for (std::size_t k = 0; k < octets.size(); ++k) {
        if (k != 0)
            *end++ = u'.';
        end = appendDecimal(end, octets[k]);
    }
    text.resize(end - buffer.data());
    std::copy(buffer.data(), end, text.data());
}

} // namespace

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
    if (m_size == 0)
        return false;
    std::size_t k = 0;
    for (const QStringView part : address.tokenize(u'.')) {
        bool ok = false;
        const qint64 octet = part.toLongLong(&ok);
        if (!ok || k == 4 || part != QString::number(octet) || octet < m_low[k] || octet > m_high[k])
            return false;
        ++k;
    }
    return k == 4;
}

QString IpRange::at(qint64 i) const
{
    Q_ASSERT(i >= 0 && i < m_size);
    if (m_isLiteral)
        return m_literal;
    QString text;
    writeAddress(text, octetsAt(i));
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
    writeAddress(m_text, m_octets);
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
    writeAddress(m_text, m_octets);
    return *this;
}
