#pragma once

#include "address/address.h"

#include <QtGlobal>

#include <map>

// The addresses of a run that could not be asked for want of a route, as merged intervals:
// a whole range without a route is one entry, as is every stretch of addresses in a row.
// Its memory is bounded however large the range: past maxIntervals it stops being exact and
// keeps nothing more, and a scan whose set is not exact judges nobody missing. Not safe
// to share between threads; the run guards its own.
class UnaskedAddresses final {
public:
    static constexpr std::size_t maxIntervals = 4096;

    // An address, as the probe asked it. One that is no IPv4 address (a dash range's
    // 10.0.0.300, a text kept as typed) makes the set inexact.
    void add(const Address &address);
    bool contains(const Address &address) const;
    bool isExact() const { return m_exact; }

private:
    std::map<quint32, quint32> m_intervals; // first -> last, disjoint and apart
    bool m_exact = true;
};
