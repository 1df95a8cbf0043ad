#pragma once

#include "model/devicerecord.h"
#include "probes/probejob.h"

// What a run's probes hand their records to: the owner of the device lists. Main thread.
class ProbeSink {
public:
    virtual ~ProbeSink() = default;
    // A probe's merge step: notes the record in the found list of its kind of probe and,
    // unless the same device is listed already, adds it. Returns whether it was added.
    virtual bool addIfNew(const Device &record, ProbeKind kind) = 0;
};
