#pragma once

#include "scan/iprange.h"

#include <QList>
#include <QString>

#include <optional>

// The addresses of a list of ranges one after another, computed as the walk goes: its memory
// does not grow with the ranges' size. It holds the ranges, and its iterator refers to them,
// so it is neither copied nor moved. One thread at a time.
class AddressWalk final {
public:
    explicit AddressWalk(QList<IpRange> ranges) : m_ranges(std::move(ranges)) {}
    AddressWalk(const AddressWalk &) = delete;
    AddressWalk &operator=(const AddressWalk &) = delete;

    // The next address; nothing after the last.
    std::optional<QString> next();

private:
    const QList<IpRange> m_ranges;
    qsizetype m_current = 0;
    std::optional<IpRange::iterator> m_next;
};
