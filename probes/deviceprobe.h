#pragma once

#include "model/devicerecord.h"
#include "probes/httpclient.h"
#include "probes/probeticket.h"

#include <optional>

class MainViewController;

// One HTTP probe of one address. The device info probe asks for "/info" and notes what it
// finds in vudiduDevices; a 404 hands the address over to the gateway data probe, which
// asks for "/getdata.json" and notes what it finds in xpicoDevices. A new device is also
// added to the device list. The ticket goes along the whole path and is ended after the
// merge, or by the hand-over's probe.
//
// Made on the caller's thread (the network thread for a hand-over); finished on the network
// thread, from which the merge runs on the main thread as one step.
class DeviceProbe final : public HttpHandler {
public:
    enum class Kind { DeviceInfo, XpicoData };

    static void start(Kind kind, std::shared_ptr<MainViewController> controller, const QString &ipAddress,
                      const std::optional<QString> &redirectAddress, ProbeTicket ticket);

    void finished(HttpResult result) override;

private:
    DeviceProbe(Kind kind, std::shared_ptr<MainViewController> controller, const QString &ipAddress,
                const std::optional<QString> &redirectAddress, ProbeTicket ticket);

    void merge(const DeviceRecord &record);

    Kind m_kind;
    std::shared_ptr<MainViewController> m_controller;
    QString m_ipAddress;
    std::optional<QString> m_redirectAddress;
    ProbeTicket m_ticket;
};
