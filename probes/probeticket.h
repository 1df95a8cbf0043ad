#pragma once

#include "platform/dispatchgroup.h"
#include "platform/semaphore.h"

#include <memory>

// One probe's share of its run's concurrency kit: the limiter unit its caller took, and
// its membership of the run's group when there is one. The ticket travels along the
// probe's path, into a hand-over too, and end() gives the unit back and then leaves the
// group, exactly once. Move-only, so no path can end it twice. Any thread.
class ProbeTicket final {
public:
    ProbeTicket(std::shared_ptr<Semaphore> processLimiter, std::shared_ptr<DispatchGroup> dispatchGroup);
    ProbeTicket(ProbeTicket &&other) noexcept = default;
    ProbeTicket &operator=(ProbeTicket &&) = delete;
    ProbeTicket(const ProbeTicket &) = delete;
    ProbeTicket &operator=(const ProbeTicket &) = delete;
    // A ticket that a path forgot to end ends here, so the run cannot hang on it; debug
    // builds stop, since that path is a bug.
    ~ProbeTicket();

    void end();

private:
    std::shared_ptr<Semaphore> m_processLimiter; // null once ended or moved from
    std::shared_ptr<DispatchGroup> m_dispatchGroup;
};
