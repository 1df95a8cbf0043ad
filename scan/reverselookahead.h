#pragma once

#include "platform/resolver.h"
#include "scan/iprange.h"

#include <QString>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

// The reverse look-ups of a range scan, made ahead of its walk: up to `depth` addresses
// are being looked up at once, each on a thread of a pool of that size, while the scan
// takes the results in address order. A resolver that never answers thus costs about one
// look-up time per `depth` addresses instead of one per address, and memory stays bounded
// by the depth, whatever the size of the range.
//
// One scan thread calls next(); the look-ups run on the look-up pool.
class ReverseLookAhead final {
public:
    ReverseLookAhead(const IpRange &range, std::shared_ptr<Resolver> resolver, int depth = 50);
    // Look-ups still running finish on their own; their results are dropped.
    ~ReverseLookAhead();
    ReverseLookAhead(const ReverseLookAhead &) = delete;
    ReverseLookAhead &operator=(const ReverseLookAhead &) = delete;

    struct Address {
        QString ipAddress;
        QString redirectAddress; // the name found, else the address text itself
    };
    // The next address of the range with its look-up's result, once that look-up has
    // ended; false at the end of the range.
    bool next(Address &address);

private:
    struct Lookup {
        QString ipAddress;
        std::optional<QString> name;
        bool done = false;
    };
    // Shared with the look-ups, which may outlive the scan.
    struct Shared {
        std::mutex mutex;
        std::condition_variable done;
    };

    void topUp();

    IpRange::iterator m_next;
    const IpRange::iterator m_end;
    const std::shared_ptr<Resolver> m_resolver;
    const std::size_t m_depth;
    const std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();
    std::deque<std::shared_ptr<Lookup>> m_ahead; // in address order; the scan thread's own
};
