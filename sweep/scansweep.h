#pragma once

#include "address/address.h"
#include "arp/arppace.h"
#include "localnet/linkroutes.h"
#include "probes/run.h"
#include "sweep/neighboursweep.h"

#include <QList>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// The addresses of one walk, as the sweep takes them: the stretches they lie in (from a
// first to a last address, one text kept as typed being a stretch of its own), which tell
// at once whether any may lie on a link, and the addresses themselves, one a call, in the
// walk's order; nothing once the walk is over. `next` is called on the network thread, while
// the walk's own thread goes over the same addresses.
struct SweepWalk final {
    struct Stretch final {
        Address first;
        Address last;
    };
    QList<Stretch> stretches;
    std::function<std::optional<Address>()> next;
};

// The neighbour sweep (sweep/neighboursweep.h) as one walk uses it: which of the walk's
// addresses it takes (those on this computer's links), the verdict on each as the walk comes
// to it, and what the log says of it. Made and used on the walk's thread.
class ScanSweep final {
public:
    // Starts the sweep of the walk's addresses on this computer's links, as `routes` has
    // them, when there are any; when there can be none, says why in the log, once (`why` the
    // routes could not be read, when there are none). At most `arpRate` ARP requests a
    // second leave on its behalf (0: no pace); with `pace`, that pace goes on, the requests
    // counted in it before the sweep counted with its own.
    ScanSweep(SweepWalk walk, const std::shared_ptr<Run> &run, std::shared_ptr<const LinkRoutes> routes,
              const QString &why, quint32 arpRate = 0, const ArpPace *pace = nullptr);

    // What one address of a walk may cost, as the sweep would start now: the helper asks
    // twice for an address nobody holds and gives up a second after, the kernel three times
    // and gives up three seconds after its first.
    struct AddressCost final {
        int requests = ArpPace::kernelRequests;
        std::chrono::milliseconds verdictWait{3000};
    };
    static AddressCost addressCost();

    // Whether the sweep found nobody at the walk's next address, waiting for its verdict if
    // the sweep takes the address. False for any other address, and after a stop.
    bool foundEmpty(const Address &address);
    // The lines that say how many addresses the sweep found empty, and how many ARP requests
    // it made leave, if it took any.
    void logSummary() const;

private:
    std::shared_ptr<const LinkRoutes> m_routes;
    std::shared_ptr<NeighbourSweep> m_sweep;
    quint64 m_swept = 0;
    quint64 m_empty = 0;
    bool m_failureLogged = false;
    bool m_howLogged = false;
};
