#pragma once

#include "probes/httpclient.h"
#include "probes/probejob.h"

#include <memory>

class MainViewController;

// One HTTP probe: the job's request, and what follows its result. A 404 of the device info
// probe hands the job over to the gateway data probe; a body that is a JSON object becomes
// a record, merged on the main thread (probes/probemerge.h); every other ending ends the
// job's ticket at once.
//
// The network thread only finishes the request. Reading a body (up to 1 MiB), the log
// lines and the hand-over run on threads of their own, so that no transfer and no stop
// waits behind them.
class DeviceProbe final : public HttpHandler {
public:
    // Logs "GET ..." and starts the request. Any thread.
    static void start(const std::shared_ptr<MainViewController> &controller, ProbeJob job);

    void finished(HttpResult result) override;

private:
    DeviceProbe(std::shared_ptr<MainViewController> controller, ProbeJob job);
    static void answered(std::shared_ptr<MainViewController> controller, ProbeJob job, HttpResult result);

    std::shared_ptr<MainViewController> m_controller;
    ProbeJob m_job;
};
