#include "probes/probemerge.h"

#include "platform/addresstext.h"
#include "platform/log.h"
#include "platform/lookuppool.h"
#include "platform/mainqueue.h"
#include "probes/probepath.h"
#include "probes/probesink.h"

#include <QCoreApplication>
#include <QTimer>

ProbeMerge::ProbeMerge(ProbeJob job, DeviceRecord record) : m_job(std::move(job)), m_record(std::move(record))
{
}

ProbeMerge::~ProbeMerge()
{
    m_endOnStop.reset();
    end({});
}

void ProbeMerge::post()
{
    mainAsync([self = shared_from_this()] { self->mergeOnMainThread(); });
}

void ProbeMerge::postAfterLookUp()
{
    m_endOnStop.emplace(m_job.run->stopToken(), EndOnStop{this});
    LookupPool::instance().async(m_lookUpOwner.get_token(), [self = shared_from_this(), resolver = m_job.nameLookUp] {
        self->settleLookUp(resolver->hostName(self->m_job.address), false);
    });
    // Whoever still waits for the look-up holds this merge; the budget's timer does not.
    mainAsync([weak = weak_from_this()] {
        QTimer::singleShot(LookupPool::budget, QCoreApplication::instance(), [weak] {
            if (const auto self = weak.lock())
                self->settleLookUp(std::nullopt, false);
        });
    });
}

void ProbeMerge::EndOnStop::operator()() const
{
    merge->settleLookUp(std::nullopt, true);
}

void ProbeMerge::settleLookUp(const std::optional<QString> &name, bool stopped)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_lookUpSettled)
            return;
        m_lookUpSettled = true;
    }
    m_lookUpOwner.request_stop();
    if (stopped) {
        end({});
        return;
    }
    m_record.setValue(DeviceKey::redirectAddress, name.value_or(addressText(m_job.address)));
    post();
}

void ProbeMerge::mergeOnMainThread()
{
    // A late completion of a stopped run reaches nothing.
    if (m_job.run->isStopped()) {
        end({});
        return;
    }
    const Device device = std::make_shared<const DeviceRecord>(m_record);
    const std::shared_ptr<ProbeSink> sink = m_job.run->sink().lock();
    const bool added = sink && sink->addIfNew(device, m_job.kind);
    m_job.run->noteAnswer();
    if (const ProbePath path = probePath(m_job.kind); added || !path.foundOnlyNew)
        logLine(lcProbes, path.found, device->description());
    // A record without a MAC address is listed for the run's length only.
    end({deviceIdentity(*device) ? ProbeOutcome::Kind::Listed : ProbeOutcome::Kind::NoMac, 0});
}

void ProbeMerge::end(ProbeOutcome how)
{
    const std::lock_guard lock(m_mutex);
    if (!m_ended) {
        m_ended = true;
        m_job.end(how);
    }
}
