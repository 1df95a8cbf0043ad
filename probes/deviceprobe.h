#pragma once

#include "platform/resolver.h"
#include "platform/stoptoken.h"
#include "probes/httpclient.h"
#include "probes/probeticket.h"

#include <optional>

class MainViewController;

// One HTTP probe of one address. The device info probe asks for "/info" and notes what it
// finds in vudiduDevices; a 404 hands the address over to the gateway data probe, which
// asks for "/getdata.json" and notes what it finds in xpicoDevices. A new device is also
// added to the device list. The ticket goes along the whole path and is ended after the
// merge (probes/probemerge.h), or by the hand-over's probe.
//
// Made on the caller's thread (the network thread for a hand-over); finished on the network
// thread, which queues the merge for the main thread and never waits for it.
class DeviceProbe final : public HttpHandler {
public:
    enum class Kind { DeviceInfo, XpicoData };

    // With a `nameResolver`, the device info probe's record gets as its redirect address
    // the name that the resolver finds for the address (else the address), looked up only
    // once the record is there.
    static void start(Kind kind, std::shared_ptr<MainViewController> controller, const QString &ipAddress,
                      const std::optional<QString> &redirectAddress, ProbeTicket ticket,
                      std::shared_ptr<StopToken> stop, std::shared_ptr<Resolver> nameResolver = nullptr);

    void finished(HttpResult result) override;

private:
    DeviceProbe(Kind kind, std::shared_ptr<MainViewController> controller, const QString &ipAddress,
                const std::optional<QString> &redirectAddress, ProbeTicket ticket, std::shared_ptr<StopToken> stop,
                std::shared_ptr<Resolver> nameResolver);

    Kind m_kind;
    std::shared_ptr<MainViewController> m_controller;
    QString m_ipAddress;
    std::optional<QString> m_redirectAddress;
    ProbeTicket m_ticket;
    std::shared_ptr<StopToken> m_stop;
    std::shared_ptr<Resolver> m_nameResolver;
};
