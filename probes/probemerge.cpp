#include "probes/probemerge.h"

#include "model/mainviewcontroller.h"
#include "platform/backgroundpool.h"
#include "platform/log.h"
#include "platform/mainqueue.h"

namespace {

// Look-ups may each block for as long as the name server takes; only devices that answer
// are looked up, so a few threads, started on demand, cover them.
BackgroundPool &lookUpPool()
{
    static BackgroundPool *const pool = new BackgroundPool(20); // never destroyed
    return *pool;
}

// A look-up on its way: the stop registration ends before the merge is let go, so the
// waker never outlives what it ends.
struct LookUp final {
    std::shared_ptr<ProbeMerge> merge;
    StopRegistration endOnStop;
};

} // namespace

ProbeMerge::ProbeMerge(List list, std::shared_ptr<MainViewController> controller, DeviceRecord record,
                       ProbeTicket ticket, std::shared_ptr<StopToken> stop)
    : m_list(list), m_controller(std::move(controller)), m_record(std::move(record)), m_stop(std::move(stop)),
      m_ticket(std::move(ticket))
{
}

ProbeMerge::~ProbeMerge()
{
    end();
}

void ProbeMerge::post()
{
    mainAsync([self = shared_from_this()] { self->mergeOnMainThread(); });
}

void ProbeMerge::postAfterLookUp(std::shared_ptr<Resolver> resolver, const QString &ipAddress)
{
    auto lookUp = std::make_shared<LookUp>();
    lookUp->merge = shared_from_this();
    if (m_stop)
        lookUp->endOnStop = m_stop->onStop([this] { end(); });
    lookUpPool().async([lookUp, resolver = std::move(resolver), ipAddress] {
        if (lookUp->merge->m_stop && lookUp->merge->m_stop->isStopped())
            return; // ended by the stop; the look-up is not made
        const std::optional<QString> name = resolver->hostName(ipAddress);
        lookUp->endOnStop.reset();
        lookUp->merge->m_record.setValue(DeviceKey::redirectAddress, name.value_or(ipAddress));
        lookUp->merge->post();
    });
}

void ProbeMerge::mergeOnMainThread()
{
    // A late completion of a stopped run reaches nothing.
    if (!m_stop || !m_stop->isStopped()) {
        const Device device = std::make_shared<const DeviceRecord>(m_record);
        if (m_list == List::Vudidu) {
            if (m_controller->addIfNew(device, MainViewController::FoundList::Vudidu))
                logLine(lcProbes, "Corva/TRAM6 device found: %@", device->description());
        } else {
            m_controller->addIfNew(device, MainViewController::FoundList::Xpico);
            logLine(lcProbes, "XPico device found: %@", device->description());
        }
    }
    end();
}

void ProbeMerge::end()
{
    const std::lock_guard lock(m_ticketMutex);
    m_ticket.end();
}
