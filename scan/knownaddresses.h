#pragma once

#include "address/address.h"
#include "platform/resolver.h"
#include "probes/run.h"

#include <QList>

#include <memory>

// The ask before missing: probes each address directly, as a scan probes one (the device
// info probe, its 404 handed over to the gateway data probe), without the neighbour sweep,
// at most 50 at a time and within the scan's limits; no ask starts more than 30 s after the
// first. Returns once every ask has ended or the run is stopped. The probes merge into the
// run's sink, as the scan's do, but leave the run's count of addresses probed alone.
// Background thread.
void askKnownAddresses(const QList<Address> &addresses, const std::shared_ptr<Run> &run,
                       const std::shared_ptr<Resolver> &resolver);
