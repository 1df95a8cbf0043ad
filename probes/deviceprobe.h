#pragma once

#include "probes/httpclient.h"
#include "probes/probejob.h"

#include <memory>

// The two HTTP probes. The device info probe asks for "/info"; a 404 hands the job over to
// the gateway data probe, which asks for "/getdata.json". A body that is a JSON object
// becomes a record, merged on the main thread into the job's run's sink
// (probes/probemerge.h); every other ending ends the job's ticket at once. Once the job's
// run is stopped, the probe ends promptly and merges nothing.
//
// The network thread only finishes the request. Reading a body (up to 1 MiB), the log
// lines and the hand-over run on threads of their own, so that no transfer and no stop
// waits behind them.

// Starts a probe and returns at once. Any thread. The job's ticket is ended exactly once,
// after its merge, on every path (a hand-over to the gateway data probe included).
void probe(ProbeJob job);

// Ends a probe at once without a request, for an address where the neighbour sweep found
// nobody: its "GET" line, then its end as that of a connection that found no host. Any thread.
void endUnanswered(ProbeJob job);

// The synchronous probes of one address, for a run's background task: each returns once
// the probe has ended and its record has been merged, saying how it ended. They wait for
// the main thread, so they never run on it.
ProbeOutcome getDeviceInfo(const Address &ipAddress, const std::optional<QString> &redirectAddress,
                           const std::shared_ptr<Run> &run);
ProbeOutcome getXpicoInfo(const Address &ipAddress, const std::optional<QString> &redirectAddress,
                          const std::shared_ptr<Run> &run);

// One probe in flight: what follows its HTTP result.
class DeviceProbe final {
public:
    // Logs "GET ..." and starts the request. Any thread.
    static void start(ProbeJob job);
    // Logs the job's "GET ..." line, and gives the path it asks for.
    static QString logRequest(const ProbeJob &job);

    void finished(HttpResult result);

private:
    explicit DeviceProbe(ProbeJob job) : m_job(std::move(job)) {}
    static void answered(ProbeJob job, HttpResult result);

    ProbeJob m_job;
};
