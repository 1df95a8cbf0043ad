#pragma once

#include "address/address.h"
#include "platform/result.h"
#include "scan/iprange.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <array>
#include <compare>
#include <iterator>
#include <map>
#include <optional>
#include <vector>

// Several ranges walked as one scan: each address once, in the order the ranges give them;
// an address that an earlier range already gave is skipped. The ranges are kept as merged
// intervals, never as addresses, so memory grows with the number of ranges only.
//
// The walk gives each address as the value the scan asks (address/address.h): an IPv4
// address, or, where the text is none, that text, since the scan asks it as written:
// 10.0.0.256 (an octet beyond 255 from a dash range) is not 10.0.1.0, and a single address
// kept exactly as typed ("010.0.0.1", "10.0.0.1 ") is the same only as that very text. A range is one interval of
// addresses, or, when its last octet runs past 0..255, up to three (below 0, inside, beyond
// 255). A range that is no such interval, such as a dash on an octet before the last (which
// get_ip_range does not expand today), is refused rather than split per address.
//
// Built on one thread; once built it does not change, so any thread may walk it.
class RangeList final {
public:
    // The cap of one range holds for the total too.
    static constexpr qint64 maxSize = IpRange::maxSize;
    static constexpr qsizetype maxRanges = 65'536;

    class iterator;

    RangeList() = default;

    // Adds a range after those added before. Refused: an empty range, one that is no
    // interval, more than maxRanges ranges, or a total above maxSize; the list is then
    // unchanged.
    Result<> append(const IpRange &range);
    // Expands a range expression as get_ip_range does and appends it. The notation's log
    // line is written only for the list's first range in that notation: a list of 65,536
    // ranges logs as one range does.
    Result<> appendExpression(const QString &expression);

    // The number of addresses the walk gives, each once.
    qint64 size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }
    qsizetype rangeCount() const { return m_ranges; }
    // Whether the walk gives this address.
    bool contains(const Address &address) const;

    // The stretches the walk gives one after another: a run of addresses from its first to
    // its last, or one text kept as typed (first and last alike). At most three per range.
    struct Stretch {
        Address first;
        Address last;
    };
    QList<Stretch> stretches() const;

    // The `count` addresses of the walk from its `start`th on (0 the first), going on from
    // the walk's first once past its last: a list of its own whose walk gives just those, in
    // that order. `start` is taken modulo the size; `count` is at most the size.
    RangeList slice(qint64 start, qint64 count) const;

    // The iterators refer to this list, which must outlive them.
    iterator begin() const;
    iterator end() const;

private:
    // The addresses of a line are its values in order. The octets line holds every address
    // whose four octets lie in 0..255, valued as 32 bits; a row holds the addresses with a
    // fixed first three octets and any other last octet, valued by that octet.
    struct Line {
        bool row = false;
        std::array<qint64, 3> prefix{};
        auto operator<=>(const Line &) const = default;
    };
    struct Interval {
        Line line;
        qint64 low = 0;
        qint64 high = -1;
    };
    // One step of the walk: an interval's addresses not given before, or one literal text.
    struct Piece {
        Interval interval;
        bool isLiteral = false;
        Address literal;
    };
    struct Start {
        Line line;
        qint64 low = 0;
        auto operator<=>(const Start &) const = default;
    };

    static std::optional<std::vector<Interval>> intervalsOf(const std::array<qint64, 4> &low,
                                                            const std::array<qint64, 4> &high, qint64 size);
    static Interval pointOf(const std::array<qint64, 4> &octets);
    static std::array<qint64, 4> octetsAt(const Line &line, qint64 value);
    static Address addressAt(const Line &line, qint64 value);
    std::vector<Interval> notCovered(const Interval &interval) const;
    void merge(const Interval &interval);

    std::map<Start, qint64> m_covered; // disjoint intervals: start -> high
    QSet<QString> m_literals;
    std::vector<Piece> m_pieces;
    qint64 m_size = 0;
    qsizetype m_ranges = 0;
    unsigned m_notationsLogged = 0; // a bit per RangeNotation
};

// Yields a reference to an address of its own that it changes as it moves.
class RangeList::iterator final {
public:
    using iterator_concept = std::forward_iterator_tag;
    using iterator_category = std::input_iterator_tag;
    using value_type = Address;
    using difference_type = qint64;
    using reference = const Address &;
    using pointer = const Address *;

    iterator() = default;

    reference operator*() const { return m_address; }
    pointer operator->() const { return &m_address; }
    iterator &operator++();
    iterator operator++(int)
    {
        iterator previous = *this;
        ++*this;
        return previous;
    }
    bool operator==(const iterator &other) const { return m_index == other.m_index; }

private:
    friend class RangeList;
    iterator(const RangeList *list, qint64 index);
    void enterPiece();

    const RangeList *m_list = nullptr;
    qint64 m_index = 0;
    std::size_t m_piece = 0;
    qint64 m_value = 0;
    Address m_address;
};

// A list built from texts, or why it could not be: the reason names the range.
using RangeListResult = Result<RangeList>;

// The ranges typed as arguments, each expanded by get_ip_range exactly as given; an error
// names the range by its position, 1 for the first. No range at all is an error too.
RangeListResult rangeListFromTexts(const QStringList &texts);

// The ranges typed in the window's range box: several between blanks or commas, or, when
// there is one, the whole text as typed.
QStringList rangeBoxTexts(const QString &text);

// The ranges of a file's text, one a line: what follows a "#" is a comment, blanks around
// a range are dropped, and lines left empty are skipped. An error names the line by its
// number, 1 for the first. A file without a range is an error.
RangeListResult rangeListFromLines(const QString &text);
