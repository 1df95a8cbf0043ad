#include "scan/rangescan.h"

#include "localnet/networkinterfaces.h"
#include "platform/log.h"
#include "platform/mainqueue.h"
#include "probes/deviceprobe.h"
#include "sweep/scansweep.h"

namespace {

// The ranges' addresses as the sweep walks them, ahead of the scan's own walk.
SweepWalk sweepWalk(const std::shared_ptr<const RangeList> &ranges)
{
    SweepWalk walk;
    for (const RangeList::Stretch &stretch : ranges->stretches())
        walk.stretches.append({stretch.first, stretch.last});
    walk.next = [ranges, next = std::make_shared<RangeList::iterator>(ranges->begin())]() -> std::optional<Address> {
        if (*next == ranges->end())
            return std::nullopt;
        return *(*next)++;
    };
    return walk;
}

} // namespace

qint64 scanDevices(const std::shared_ptr<const RangeList> &ranges, const std::shared_ptr<Run> &run,
                   const std::shared_ptr<Resolver> &resolver, quint32 arpRate,
                   std::optional<std::chrono::steady_clock::time_point> walkUntil, const ArpPace *pace)
{
    requireBackgroundThread("scanDevices");
    const auto processLimiter = std::make_shared<Semaphore>(probesInFlight);
    // The units that the probes of addresses found empty give back: they took none.
    const auto noUnit = std::make_shared<Semaphore>(0);
    // Its leaves are the run's count of addresses probed.
    const std::shared_ptr<DispatchGroup> &dispatchGroup = run->group();
    // The kernel's routes, read once. An address that is no host's (a network's broadcast
    // address, multicast) is answered for at once, as asked with nobody there: the kernel
    // would not connect to it.
    QString why;
    std::optional<LinkRoutes> read = LinkRoutes::read(&why);
    const auto routes = read ? std::make_shared<const LinkRoutes>(*std::move(read)) : nullptr;
    const HostAddresses hosts = routes ? routes->hostAddresses() : HostAddresses({}, ipv4Interfaces());
    // It runs ahead of the walk, so that the units go to addresses where someone lives.
    ScanSweep sweep(sweepWalk(ranges), run, routes, why, arpRate, pace);
    qint64 walked = 0;
    const auto timeIsUp = [&walkUntil] { return walkUntil && std::chrono::steady_clock::now() >= *walkUntil; };
    {
        // A stop frees this thread from its wait for a unit: the unit it adds is never
        // given to a probe, since the walk ends.
        const std::stop_callback releaseWalk(run->stopToken(), [&processLimiter] { processLimiter->signal(); });
        // This thread walks the range and waits for each limiter unit itself, so nothing is
        // queued for an address whose probe has not started: threads and memory stay
        // bounded however large the range. Each address is looked up by name only once its
        // probe has found a device, and the probe keeps its unit until then. The network
        // thread gives units back at the end of each of its passes, so this thread wakes
        // once for all a pass ended, and it wakes the network thread only when that sleeps.
        for (auto address = ranges->begin(); address != ranges->end() && !run->isStopped(); ++address) {
            if (timeIsUp())
                break;
            const std::optional<quint32> ip = address->ipv4();
            const bool empty = (ip && !hosts.isHostAddress(*ip)) || sweep.foundEmpty(*address);
            if (run->isStopped())
                break;
            ++walked;
            if (empty) {
                dispatchGroup->enter();
                endUnanswered({*address, std::nullopt, ProbeKind::DeviceInfo, run, ProbeTicket(noUnit, dispatchGroup)});
                continue;
            }
            processLimiter->wait();
            if (run->isStopped())
                break;
            dispatchGroup->enter();
            ProbeJob job{*address, std::nullopt, ProbeKind::DeviceInfo, run, ProbeTicket(processLimiter, dispatchGroup)};
            job.nameLookUp = resolver;
            probe(std::move(job));
        }
    }
    dispatchGroup->wait();
    if (run->isStopped())
        return walked;
    sweep.logSummary();
    logLine(lcScan, "SCAN COMPLETE");
    return walked;
}
