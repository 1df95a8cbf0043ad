#include "scan/knownaddresses.h"

#include "platform/mainqueue.h"
#include "probes/deviceprobe.h"
#include "scan/rangescan.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

constexpr std::chrono::seconds asksStartWithin{30};

// Waits until `when`, or less when the run stops meanwhile.
void waitUntil(std::chrono::steady_clock::time_point when, const Run &run)
{
    std::mutex mutex;
    std::condition_variable_any nobodyWakesThis;
    std::unique_lock lock(mutex);
    nobodyWakesThis.wait_until(lock, run.stopToken(), when, [] { return false; });
}

} // namespace

qsizetype askKnownAddresses(const QList<Address> &addresses, const std::shared_ptr<Run> &run,
                            const std::shared_ptr<Resolver> &resolver, ArpPace *pace,
                            const std::function<void()> &meanwhile)
{
    requireBackgroundThread("askKnownAddresses");
    using Clock = std::chrono::steady_clock;
    const auto limiter = std::make_shared<Semaphore>(probesInFlight);
    const auto group = std::make_shared<DispatchGroup>();
    const auto until = std::chrono::steady_clock::now() + asksStartWithin;
    qsizetype asked = 0;
    {
        const std::stop_callback release(run->stopToken(), [&limiter] { limiter->signal(); });
        for (const Address &address : addresses) {
            limiter->wait();
            // The unit is held while the ask waits for its slot: the ask starts as it ends.
            while (pace && !run->isStopped()) {
                const Clock::time_point now = Clock::now();
                const Clock::time_point slot = pace->slot(ArpPace::Ask::Kernel, now);
                if (slot <= now)
                    break;
                waitUntil(slot, *run);
            }
            if (run->isStopped() || Clock::now() >= until) {
                limiter->signal();
                break;
            }
            group->enter();
            ProbeJob job{address, std::nullopt, ProbeKind::DeviceInfo, run, ProbeTicket(limiter, group)};
            job.nameLookUp = resolver;
            probe(std::move(job));
            // Its connection leaves on the network thread a little later: the kernel's asks are
            // counted as late as that.
            if (pace)
                pace->spend(ArpPace::Ask::Kernel, Clock::now());
            ++asked;
        }
    }
    if (meanwhile)
        meanwhile();
    group->wait();
    return asked;
}
