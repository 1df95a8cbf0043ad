#pragma once

#include "model/devicerecord.h"
#include "platform/resolver.h"
#include "platform/stoptoken.h"
#include "probes/probeticket.h"

#include <memory>
#include <mutex>

class MainViewController;

// The end of a probe that found a record: the record's merge step, one step on the main
// thread, queued without waiting for it; the probe's ticket is ended after it. A probe of
// a stopped run merges nothing and ends at once, also while it waits for its look-up.
class ProbeMerge final : public std::enable_shared_from_this<ProbeMerge> {
public:
    enum class List { Vudidu, Xpico };

    ProbeMerge(List list, std::shared_ptr<MainViewController> controller, DeviceRecord record, ProbeTicket ticket,
               std::shared_ptr<StopToken> stop);
    // A merge step that never ran (the application quit first) still ends the ticket.
    ~ProbeMerge();
    ProbeMerge(const ProbeMerge &) = delete;
    ProbeMerge &operator=(const ProbeMerge &) = delete;

    // Queues the merge step. Any thread.
    void post();
    // Looks the record's address up by name on a pool of its own, so that a slow name
    // server holds no other work, and makes the name (else the address) the record's
    // redirect address before posting the merge step. Any thread.
    void postAfterLookUp(std::shared_ptr<Resolver> resolver, const QString &ipAddress);

private:
    void mergeOnMainThread();
    void end();

    const List m_list;
    const std::shared_ptr<MainViewController> m_controller;
    DeviceRecord m_record; // the look-up's thread writes it before the merge step reads it
    const std::shared_ptr<StopToken> m_stop;
    std::mutex m_ticketMutex; // a stop during the look-up and the look-up may both end it
    ProbeTicket m_ticket;
};
