#pragma once

#include "model/devicerecord.h"
#include "probes/probejob.h"

#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>

// The end of a probe that found a record: the record's merge step into the run's sink, one
// step on the main thread, queued without waiting for it; the job's ticket is ended after
// it. A probe of a stopped run merges nothing and ends at once, also while it waits for its
// look-up.
class ProbeMerge final : public std::enable_shared_from_this<ProbeMerge> {
public:
    ProbeMerge(ProbeJob job, DeviceRecord record);
    // A merge step that never ran (the application quit first) still ends the ticket.
    ~ProbeMerge();
    ProbeMerge(const ProbeMerge &) = delete;
    ProbeMerge &operator=(const ProbeMerge &) = delete;

    // Whether the job names its redirect address by a look-up.
    bool needsLookUp() const { return m_job.nameLookUp != nullptr; }
    // Queues the merge step. Any thread.
    void post();
    // Looks the record's address up by name with the job's resolver, as one of its run's
    // look-ups, and makes the name (else the address) the record's redirect address before
    // posting the merge step. A look-up without an answer within its budget counts as one
    // that found no name. Any thread; the main thread's event loop keeps the budget.
    void postAfterLookUp();

private:
    struct EndOnStop {
        ProbeMerge *merge;
        void operator()() const;
    };

    // The first of the look-up's answer, the end of its budget and a stop of the run
    // settles the look-up; the others find it settled.
    void settleLookUp(const std::optional<QString> &name, bool stopped);
    void mergeOnMainThread();
    // Ends the job, once.
    void end(ProbeOutcome how);

    ProbeJob m_job;
    DeviceRecord m_record; // the look-up's outcome is written before the merge step reads it
    std::mutex m_mutex;    // guards the two below, and the ticket's end
    bool m_lookUpSettled = false;
    bool m_ended = false;
    std::stop_source m_lookUpOwner; // stopped once settled: a look-up still waiting is given up
    std::optional<std::stop_callback<EndOnStop>> m_endOnStop;
};
