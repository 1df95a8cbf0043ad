#include "scan/knownaddresses.h"

#include "platform/mainqueue.h"
#include "probes/deviceprobe.h"
#include "sweep/neighboursweep.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

constexpr int asksInFlight = 50;
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
                            const std::shared_ptr<Resolver> &resolver, quint32 arpRate,
                            const std::function<void()> &meanwhile)
{
    requireBackgroundThread("askKnownAddresses");
    const std::chrono::microseconds spacing =
        arpRate > 0 ? NeighbourSweep::kernelSendInterval(arpRate) : std::chrono::microseconds(0);
    const auto limiter = std::make_shared<Semaphore>(asksInFlight);
    const auto group = std::make_shared<DispatchGroup>();
    const auto until = std::chrono::steady_clock::now() + asksStartWithin;
    qsizetype asked = 0;
    {
        const std::stop_callback release(run->stopToken(), [&limiter] { limiter->signal(); });
        auto due = std::chrono::steady_clock::now();
        for (const Address &address : addresses) {
            waitUntil(due, *run);
            if (run->isStopped() || std::chrono::steady_clock::now() >= until)
                break;
            limiter->wait();
            if (run->isStopped())
                break;
            due = std::chrono::steady_clock::now() + spacing;
            group->enter();
            ProbeJob job{address, std::nullopt, ProbeKind::DeviceInfo, run, ProbeTicket(limiter, group)};
            job.nameLookUp = resolver;
            probe(std::move(job));
            ++asked;
        }
    }
    if (meanwhile)
        meanwhile();
    group->wait();
    return asked;
}
