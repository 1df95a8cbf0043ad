#pragma once

#include "arp/arppace.h"
#include "platform/resolver.h"
#include "probes/run.h"
#include "scan/rangelist.h"

#include <chrono>
#include <memory>
#include <optional>

// How many probes a scan, or a watch round's asks, have under way at most.
inline constexpr int probesInFlight = 50;

// The background work of one range scan: probes every address of the ranges, in the order
// the list gives them, with the device info probe, at most 50 at a time, and returns once
// every probe has ended, logging "SCAN COMPLETE" unless the run was stopped; after a stop,
// it starts no further probe. The addresses on this computer's links are swept first
// (sweep/scansweep.h): the probe of one found empty ends at once, without a unit, as does
// the probe of an address that is no host's (localnet/hostaddresses.h). The probes
// merge into the run's sink, and leave the run's group as they end, so that its leaves
// count the addresses probed. An address is looked up by name through the resolver only
// once its probe has found a device. At most `arpRate` ARP requests a second leave for the
// sweep (0: no pace of the user's). With `walkUntil`, no probe starts after that time: the
// walk ends there, the probes under way end as usual, and the scan is complete all the same
// (a watch's round walks what its interval allows). With `pace`, the sweep goes on with that
// ARP pace, the requests counted in it before (a watch's asks) counted with its own. Returns
// the addresses the walk came to, in its order from the first. Background thread.
qint64 scanDevices(const std::shared_ptr<const RangeList> &ranges, const std::shared_ptr<Run> &run,
                   const std::shared_ptr<Resolver> &resolver, quint32 arpRate = 0,
                   std::optional<std::chrono::steady_clock::time_point> walkUntil = std::nullopt,
                   const ArpPace *pace = nullptr);
