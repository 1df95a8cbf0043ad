#include "scan/knownaddresses.h"

#include "platform/mainqueue.h"
#include "probes/deviceprobe.h"

#include <chrono>

namespace {

constexpr int asksInFlight = 50;
constexpr std::chrono::seconds asksStartWithin{30};

} // namespace

void askKnownAddresses(const QList<Address> &addresses, const std::shared_ptr<Run> &run,
                       const std::shared_ptr<Resolver> &resolver)
{
    requireBackgroundThread("askKnownAddresses");
    const auto limiter = std::make_shared<Semaphore>(asksInFlight);
    const auto group = std::make_shared<DispatchGroup>();
    const auto until = std::chrono::steady_clock::now() + asksStartWithin;
    {
        const std::stop_callback release(run->stopToken(), [&limiter] { limiter->signal(); });
        for (const Address &address : addresses) {
            if (run->isStopped() || std::chrono::steady_clock::now() >= until)
                break;
            limiter->wait();
            if (run->isStopped())
                break;
            group->enter();
            ProbeJob job{address, std::nullopt, ProbeKind::DeviceInfo, run, ProbeTicket(limiter, group)};
            job.nameLookUp = resolver;
            probe(std::move(job));
        }
    }
    group->wait();
}
