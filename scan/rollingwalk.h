#pragma once

#include "arp/arppace.h"

#include <QtGlobal>

#include <chrono>

// How a watch's round walks its ranges when it cannot walk them whole within its interval:
// a part of the walk each round, the next part where the previous round stopped, so that
// every address comes round in turn, and never more ARP requests than the pace allows.
//
// A round asks the known devices first, at their last addresses, then walks. The pace pays
// for both: a known device asked costs what an address the kernel sweeps costs (it may ask
// three times for an address nobody holds), an address of the walk what the sweep in use
// makes it cost (two requests with the helper, three through the kernel). The walk ends
// `walkMargin` before the interval does, so that its last probes end before the next round,
// and its last requests leave the sweep's wait for their answers before that.
struct WalkBudget final {
    qint64 size = 0;                      // the addresses of the ranges
    qint64 resumeAt = 0;                  // where the previous round stopped
    quint32 arpRate = 0;                  // requests a second; 0: no pace
    std::chrono::milliseconds every{0};   // the round's interval; 0: none
    qsizetype knownAsks = 0;              // the known devices the round asks first
    int requestsPerAddress = ArpPace::kernelRequests;
    std::chrono::milliseconds verdictWait{0}; // from an address's last request to its verdict
};

struct WalkPart final {
    qint64 start = 0;
    qint64 count = 0;
    bool operator==(const WalkPart &) const = default;
};

inline constexpr std::chrono::seconds walkMargin{3};
// A known device is asked through the kernel.
inline constexpr int requestsPerKnownAsk = ArpPace::kernelRequests;

// The part of the walk a round takes, from where the previous round stopped (a walk that
// ended whole stopped where it started): the ranges whole when the pace and the interval
// allow it (or there is no pace or no interval); otherwise as many addresses as the requests
// left after the known devices' pay for, never fewer than a second's worth of the pace, so
// that a round always moves on.
WalkPart planWalk(const WalkBudget &budget);

// Where the next round starts, once this one walked `walked` addresses of its part (fewer
// than the part when its time ran out).
qint64 walkResumesAt(const WalkBudget &budget, const WalkPart &part, qint64 walked);
