#include "probes/probeticket.h"

#include <QtGlobal>

ProbeTicket::ProbeTicket(std::shared_ptr<Semaphore> processLimiter, std::shared_ptr<DispatchGroup> dispatchGroup)
    : m_processLimiter(std::move(processLimiter)), m_dispatchGroup(std::move(dispatchGroup))
{
    Q_ASSERT(m_processLimiter);
}

ProbeTicket::~ProbeTicket()
{
    if (!m_processLimiter)
        return;
    Q_ASSERT_X(false, "ProbeTicket", "a probe ended without ending its ticket");
    end();
}

void ProbeTicket::end()
{
    if (!m_processLimiter)
        return;
    // Both are taken out first: once the group has been left, the run may go on and let
    // them go.
    const std::shared_ptr<Semaphore> limiter = std::move(m_processLimiter);
    const std::shared_ptr<DispatchGroup> group = std::move(m_dispatchGroup);
    limiter->signal();
    if (group)
        group->leave();
}
