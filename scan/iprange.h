#pragma once

#include <QString>
#include <QtGlobal>

#include <array>
#include <iterator>

// Inclusive bounds of one octet of an address range, signed: a bound may lie outside
// 0..255 and is then written out as the number it is.
struct OctetBounds {
    qint64 low = 0;
    qint64 high = -1;
};

// The ordered address texts of a range expression, computed on demand: the range holds
// four octet ranges (or one literal text), never the texts themselves, so its memory does
// not grow with its size. Immutable, so any thread may read it.
class IpRange final {
public:
    // Larger ranges are refused, so a size always fits and a scan stays bounded.
    static constexpr qint64 maxSize = qint64{1} << 24;

    class iterator;

    IpRange() = default;
    // Every combination of the four octet ranges, the first octet outermost. Empty when
    // a pair is reversed or the combinations number more than maxSize.
    explicit IpRange(const std::array<OctetBounds, 4> &table);
    // A range of one text, exactly as given.
    static IpRange literal(const QString &text);

    qint64 size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }
    // Precondition: 0 <= i < size().
    QString at(qint64 i) const;
    // Whether the range gives this text, written as it writes its own.
    bool contains(QStringView address) const;

    // The iterators refer to this range, which must outlive them.
    iterator begin() const;
    iterator end() const;

private:
    std::array<qint64, 4> octetsAt(qint64 i) const;

    std::array<qint64, 4> m_low{};
    std::array<qint64, 4> m_high{};
    std::array<qint64, 4> m_count{};
    qint64 m_size = 0;
    QString m_literal;
    bool m_isLiteral = false;
};

// Yields a reference to a text that it rewrites in place as it moves, so a walk over a
// range allocates nothing per address unless the caller keeps a copy.
class IpRange::iterator final {
public:
    using iterator_concept = std::forward_iterator_tag;
    // The reference is to the iterator's own text, which the classic categories forbid
    // beyond input iterators.
    using iterator_category = std::input_iterator_tag;
    using value_type = QString;
    using difference_type = qint64;
    using reference = const QString &;
    using pointer = const QString *;

    iterator() = default;

    reference operator*() const { return m_text; }
    pointer operator->() const { return &m_text; }
    iterator &operator++();
    iterator operator++(int)
    {
        iterator previous = *this;
        ++*this;
        return previous;
    }
    bool operator==(const iterator &other) const { return m_index == other.m_index; }

private:
    friend class IpRange;
    iterator(const IpRange *range, qint64 index);

    const IpRange *m_range = nullptr;
    qint64 m_index = 0;
    std::array<qint64, 4> m_octets{};
    QString m_text;
};
