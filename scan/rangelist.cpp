#include "scan/rangelist.h"

#include "platform/addresstext.h"
#include "scan/rangeexpression.h"

#include <QRegularExpression>

#include <algorithm>
#include <cstdint>
#include <limits>

namespace {

bool isOctet(qint64 value)
{
    return value >= 0 && value <= 255;
}

// Only for octets in 0..255.
qint64 addressValue(const std::array<qint64, 4> &octets)
{
    return (octets[0] << 24) | (octets[1] << 16) | (octets[2] << 8) | octets[3];
}

// A range's text in an error: quoted and short, whatever the file held. Where the error is
// shown makes it safe (safetext.h).
QString quoted(const QString &text)
{
    constexpr qsizetype shown = 60;
    return u'"' + text.left(shown) + (text.size() > shown ? QStringLiteral("...\"") : QStringLiteral("\""));
}

Result<> appendText(RangeList &list, const QString &where, const QString &text)
{
    if (const Result<> appended = list.appendExpression(text); !appended)
        return Failure{where + QStringLiteral(": ") + quoted(text) + u' ' + appended.reason()};
    return {};
}

} // namespace

Result<> RangeList::appendExpression(const QString &expression)
{
    const RangeNotation notation = notationOf(expression);
    const unsigned bit = 1u << unsigned(notation);
    if (!(m_notationsLogged & bit))
        logNotation(notation);
    m_notationsLogged |= bit;
    return append(expandInNotation(expression, notation));
}

Result<> RangeList::append(const IpRange &range)
{
    if (range.isEmpty())
        return Failure{QStringLiteral("cannot be expanded")};
    if (m_ranges == maxRanges)
        return Failure{QStringLiteral("is one range too many: at most %1 ranges").arg(maxRanges)};
    const QString cap = QStringLiteral("takes the scan past %1 addresses").arg(maxSize);

    const QString first = range.at(0);
    const std::optional<std::array<qint64, 4>> firstOctets = canonicalOctets(first);
    if (!firstOctets && range.size() == 1) {
        // A single address kept as typed: only the very same text is the same address.
        if (!m_literals.contains(first)) {
            if (m_size == maxSize)
                return Failure{cap};
            m_literals.insert(first);
            m_pieces.push_back({{}, true, addressFromText(first)});
            ++m_size;
        }
        ++m_ranges;
        return {};
    }
    const std::optional<std::array<qint64, 4>> lastOctets = canonicalOctets(range.at(range.size() - 1));
    const std::optional<std::vector<Interval>> intervals =
        firstOctets && lastOctets ? intervalsOf(*firstOctets, *lastOctets, range.size()) : std::nullopt;
    if (!intervals)
        return Failure{QStringLiteral("is not one interval of addresses")};

    std::vector<Interval> fresh;
    qint64 added = 0;
    for (const Interval &interval : *intervals) {
        for (const Interval &gap : notCovered(interval)) {
            fresh.push_back(gap);
            added += gap.high - gap.low + 1;
        }
    }
    if (added > maxSize - m_size)
        return Failure{cap};
    for (const Interval &interval : *intervals)
        merge(interval);
    for (const Interval &gap : fresh)
        m_pieces.push_back({gap, false, {}});
    m_size += added;
    ++m_ranges;
    return {};
}

bool RangeList::contains(const Address &address) const
{
    Interval point;
    if (const std::optional<quint32> ip = address.ipv4(); ip && address.port() == 0) {
        point = {Line{}, *ip, *ip};
    } else {
        const QString text = addressText(address);
        const std::optional<std::array<qint64, 4>> octets = canonicalOctets(text);
        if (!octets)
            return m_literals.contains(text);
        point = pointOf(*octets);
    }
    const auto next = m_covered.upper_bound({point.line, point.low});
    if (next == m_covered.begin())
        return false;
    const auto candidate = std::prev(next);
    return candidate->first.line == point.line && candidate->second >= point.low;
}

QList<RangeList::Stretch> RangeList::stretches() const
{
    QList<Stretch> stretches;
    for (const Piece &piece : m_pieces) {
        if (piece.isLiteral)
            stretches.append({piece.literal, piece.literal});
        else
            stretches.append({addressAt(piece.interval.line, piece.interval.low),
                              addressAt(piece.interval.line, piece.interval.high)});
    }
    return stretches;
}

RangeList RangeList::slice(qint64 start, qint64 count) const
{
    RangeList part;
    if (m_size == 0)
        return part;
    count = std::clamp<qint64>(count, 0, m_size);
    start = ((start % m_size) + m_size) % m_size;
    // Takes the walk's addresses from `from` to before `to`, positions within the whole walk.
    const auto take = [&](qint64 from, qint64 to) {
        qint64 position = 0;
        for (const Piece &piece : m_pieces) {
            const qint64 size = piece.isLiteral ? 1 : piece.interval.high - piece.interval.low + 1;
            const qint64 low = std::max(from, position);
            const qint64 high = std::min(to, position + size);
            if (low < high) {
                Piece taken = piece;
                if (piece.isLiteral) {
                    part.m_literals.insert(addressText(piece.literal));
                } else {
                    taken.interval.low = piece.interval.low + (low - position);
                    taken.interval.high = piece.interval.low + (high - position - 1);
                    part.merge(taken.interval);
                }
                part.m_pieces.push_back(taken);
                ++part.m_ranges;
            }
            position += size;
        }
    };
    take(start, std::min(m_size, start + count));
    take(0, start + count - m_size);
    part.m_size = count;
    part.m_notationsLogged = m_notationsLogged;
    return part;
}

RangeList::iterator RangeList::begin() const
{
    return iterator(this, 0);
}

RangeList::iterator RangeList::end() const
{
    return iterator(this, m_size);
}

std::optional<std::vector<RangeList::Interval>> RangeList::intervalsOf(const std::array<qint64, 4> &low,
                                                                       const std::array<qint64, 4> &high,
                                                                       qint64 size)
{
    // A range walks every combination of its octet ranges from the lows to the highs; make
    // sure the two ends describe exactly that many addresses.
    qint64 combinations = 1;
    for (std::size_t k = 0; k < low.size(); ++k) {
        if (low[k] > high[k])
            return std::nullopt;
        const std::uint64_t span = std::uint64_t(high[k]) - std::uint64_t(low[k]);
        if (span >= std::uint64_t(maxSize))
            return std::nullopt;
        combinations *= qint64(span) + 1;
        if (combinations > maxSize)
            return std::nullopt;
    }
    if (combinations != size)
        return std::nullopt;

    const bool octets = std::all_of(low.begin(), low.end(), isOctet) && std::all_of(high.begin(), high.end(), isOctet);
    if (octets) {
        // One run of 32-bit values when every octet after the first that varies spans 0..255,
        // as in any CIDR block.
        std::size_t k = 0;
        while (k < low.size() && low[k] == high[k])
            ++k;
        bool run = true;
        for (std::size_t j = k + 1; j < low.size(); ++j)
            run = run && low[j] == 0 && high[j] == 255;
        if (run)
            return std::vector<Interval>{{Line{}, addressValue(low), addressValue(high)}};
    }
    if (low[0] != high[0] || low[1] != high[1] || low[2] != high[2])
        return std::nullopt;

    // Only the last octet varies: its values inside 0..255 belong to the octets line when
    // the others are octets too, those outside it to the row.
    const Line row{true, {low[0], low[1], low[2]}};
    if (!isOctet(low[0]) || !isOctet(low[1]) || !isOctet(low[2]))
        return std::vector<Interval>{{row, low[3], high[3]}};
    std::vector<Interval> intervals;
    if (low[3] < 0)
        intervals.push_back({row, low[3], std::min<qint64>(high[3], -1)});
    if (low[3] <= 255 && high[3] >= 0) {
        std::array<qint64, 4> from = low;
        std::array<qint64, 4> to = low;
        from[3] = std::max<qint64>(low[3], 0);
        to[3] = std::min<qint64>(high[3], 255);
        intervals.push_back({Line{}, addressValue(from), addressValue(to)});
    }
    if (high[3] > 255)
        intervals.push_back({row, std::max<qint64>(low[3], 256), high[3]});
    return intervals;
}

RangeList::Interval RangeList::pointOf(const std::array<qint64, 4> &octets)
{
    if (std::all_of(octets.begin(), octets.end(), isOctet))
        return {Line{}, addressValue(octets), addressValue(octets)};
    return {Line{true, {octets[0], octets[1], octets[2]}}, octets[3], octets[3]};
}

std::array<qint64, 4> RangeList::octetsAt(const Line &line, qint64 value)
{
    if (line.row)
        return {line.prefix[0], line.prefix[1], line.prefix[2], value};
    return {(value >> 24) & 255, (value >> 16) & 255, (value >> 8) & 255, value & 255};
}

// An address of the octets line is an IPv4 address; one of a row is the text of its numbers.
Address RangeList::addressAt(const Line &line, qint64 value)
{
    if (!line.row)
        return Address::ipv4(quint32(value));
    QString text;
    writeAddressText(text, octetsAt(line, value));
    return addressFromText(text);
}

// The parts of `interval` that no range added before covers, in ascending order.
std::vector<RangeList::Interval> RangeList::notCovered(const Interval &interval) const
{
    std::vector<Interval> gaps;
    qint64 next = interval.low;
    auto it = m_covered.upper_bound({interval.line, interval.low});
    if (it != m_covered.begin()) {
        const auto before = std::prev(it);
        if (before->first.line == interval.line && before->second >= interval.low) {
            if (before->second >= interval.high)
                return gaps;
            next = before->second + 1;
        }
    }
    for (; it != m_covered.end() && it->first.line == interval.line && it->first.low <= interval.high; ++it) {
        if (it->first.low > next)
            gaps.push_back({interval.line, next, it->first.low - 1});
        if (it->second >= interval.high)
            return gaps;
        next = it->second + 1;
    }
    gaps.push_back({interval.line, next, interval.high});
    return gaps;
}

// Joins `interval` with every covered interval it overlaps or touches.
void RangeList::merge(const Interval &interval)
{
    constexpr qint64 lowest = std::numeric_limits<qint64>::min();
    constexpr qint64 highest = std::numeric_limits<qint64>::max();
    qint64 low = interval.low;
    qint64 high = interval.high;
    auto it = m_covered.lower_bound({interval.line, low});
    if (it != m_covered.begin()) {
        const auto before = std::prev(it);
        if (before->first.line == interval.line && (before->second >= low || (low != lowest && before->second == low - 1)))
            it = before;
    }
    while (it != m_covered.end() && it->first.line == interval.line
           && (it->first.low <= high || (high != highest && it->first.low == high + 1))) {
        low = std::min(low, it->first.low);
        high = std::max(high, it->second);
        it = m_covered.erase(it);
    }
    m_covered.emplace(Start{interval.line, low}, high);
}

RangeList::iterator::iterator(const RangeList *list, qint64 index) : m_list(list), m_index(index)
{
    if (index < list->m_size)
        enterPiece();
}

void RangeList::iterator::enterPiece()
{
    const Piece &piece = m_list->m_pieces[m_piece];
    if (piece.isLiteral) {
        m_address = piece.literal;
        return;
    }
    m_value = piece.interval.low;
    m_address = addressAt(piece.interval.line, m_value);
}

RangeList::iterator &RangeList::iterator::operator++()
{
    if (++m_index >= m_list->m_size)
        return *this;
    const Piece &piece = m_list->m_pieces[m_piece];
    if (!piece.isLiteral && m_value < piece.interval.high) {
        ++m_value;
        m_address = addressAt(piece.interval.line, m_value);
        return *this;
    }
    ++m_piece;
    enterPiece();
    return *this;
}

QStringList rangeBoxTexts(const QString &text)
{
    static const QRegularExpression separators(QStringLiteral("[\\s,]+"));
    const QStringList texts = text.split(separators, Qt::SkipEmptyParts);
    return texts.size() > 1 ? texts : QStringList{text};
}

RangeListResult rangeListFromTexts(const QStringList &texts)
{
    RangeList list;
    for (qsizetype i = 0; i < texts.size(); ++i) {
        if (Result<> appended = appendText(list, QStringLiteral("range %1").arg(i + 1), texts.at(i)); !appended)
            return Failure{appended.reason()};
    }
    if (list.rangeCount() == 0)
        return Failure{QStringLiteral("no range to scan")};
    return list;
}

RangeListResult rangeListFromLines(const QString &text)
{
    RangeList list;
    qsizetype number = 0;
    for (const QStringView line : QStringView(text).tokenize(u'\n')) {
        ++number;
        const QString range = line.left(line.indexOf(u'#')).trimmed().toString();
        if (range.isEmpty())
            continue;
        if (Result<> appended = appendText(list, QStringLiteral("line %1").arg(number), range); !appended)
            return Failure{appended.reason()};
    }
    if (list.rangeCount() == 0)
        return Failure{QStringLiteral("no range in the file")};
    return list;
}
