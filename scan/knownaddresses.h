#pragma once

#include "address/address.h"
#include "arp/arppace.h"
#include "platform/resolver.h"
#include "probes/run.h"

#include <QList>

#include <functional>
#include <memory>

// The ask before missing: probes each address directly, as a scan probes one (the device
// info probe, its 404 handed over to the gateway data probe), without the neighbour sweep,
// at most 50 at a time and within the scan's limits; no ask starts more than 30 s after the
// first. With a `pace`, the asks keep that ARP pace, each counted as the kernel's asks for an
// address (arp/arppace.h: it may ask three times for an address nobody holds), and the pace
// goes on with them counted. `meanwhile`, when given, is called once every ask has started,
// before the wait for their ends: a watch's round walks its ranges, with the same pace, while
// its last asks wait for their answers.
// Returns once every ask has ended or the run is stopped, with the number of addresses
// asked, the first ones of the list. The probes merge into the run's sink, as the scan's do,
// but leave the run's count of addresses probed alone. Background thread.
qsizetype askKnownAddresses(const QList<Address> &addresses, const std::shared_ptr<Run> &run,
                            const std::shared_ptr<Resolver> &resolver,
                            ArpPace *pace = nullptr, const std::function<void()> &meanwhile = {});
