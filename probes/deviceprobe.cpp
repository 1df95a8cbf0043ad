#include "probes/deviceprobe.h"

#include "model/mainviewcontroller.h"
#include "platform/log.h"
#include "platform/mainqueue.h"
#include "probes/deviceinforecord.h"
#include "probes/xpicorecord.h"

// --- The controller's entry points -------------------------------------------------------

void MainViewController::getDeviceInfoAsync(const std::optional<QString> & /*deviceName*/, const QString &ipAddress,
                                             const std::optional<QString> &redirectAddress,
                                             std::shared_ptr<Semaphore> processLimiter,
                                             std::shared_ptr<DispatchGroup> dispatchGroup)
{
    DeviceProbe::start(DeviceProbe::Kind::DeviceInfo, shared_from_this(), ipAddress, redirectAddress,
                       ProbeTicket(std::move(processLimiter), std::move(dispatchGroup)));
}

void MainViewController::getXpicoInfoAsync(const std::optional<QString> & /*deviceName*/, const QString &ipAddress,
                                            const std::optional<QString> &redirectAddress,
                                            std::shared_ptr<Semaphore> processLimiter,
                                            std::shared_ptr<DispatchGroup> dispatchGroup)
{
    DeviceProbe::start(DeviceProbe::Kind::XpicoData, shared_from_this(), ipAddress, redirectAddress,
                       ProbeTicket(std::move(processLimiter), std::move(dispatchGroup)));
}

void MainViewController::getDeviceInfo(const std::optional<QString> &deviceName, const QString &ipAddress,
                                       const std::optional<QString> &redirectAddress, std::shared_ptr<StopToken> stop)
{
    requireBackgroundThread("MainViewController::getDeviceInfo");
    if (stop && stop->isStopped())
        return;
    // The probe's one give-back, after its merge and any hand-over, ends this wait.
    const auto ended = std::make_shared<Semaphore>(0);
    getDeviceInfoAsync(deviceName, ipAddress, redirectAddress, ended, nullptr);
    ended->wait();
}

void MainViewController::getXpicoInfo(const std::optional<QString> &deviceName, const QString &ipAddress,
                                      const std::optional<QString> &redirectAddress, std::shared_ptr<StopToken> stop)
{
    requireBackgroundThread("MainViewController::getXpicoInfo");
    if (stop && stop->isStopped())
        return;
    const auto ended = std::make_shared<Semaphore>(0);
    getXpicoInfoAsync(deviceName, ipAddress, redirectAddress, ended, nullptr);
    ended->wait();
}

// --- One probe ---------------------------------------------------------------------------

void DeviceProbe::start(Kind kind, std::shared_ptr<MainViewController> controller, const QString &ipAddress,
                        const std::optional<QString> &redirectAddress, ProbeTicket ticket)
{
    // Joined as they are: an address text may carry a port.
    const QString url = QStringLiteral("http://") + ipAddress
                        + (kind == Kind::DeviceInfo ? QStringLiteral("/info") : QStringLiteral("/getdata.json"));
    logLine(lcProbes, "GET %@", url);
    httpGet(url, std::unique_ptr<HttpHandler>(
                     new DeviceProbe(kind, std::move(controller), ipAddress, redirectAddress, std::move(ticket))));
}

DeviceProbe::DeviceProbe(Kind kind, std::shared_ptr<MainViewController> controller, const QString &ipAddress,
                         const std::optional<QString> &redirectAddress, ProbeTicket ticket)
    : m_kind(kind), m_controller(std::move(controller)), m_ipAddress(ipAddress),
      m_redirectAddress(redirectAddress), m_ticket(std::move(ticket))
{
}

void DeviceProbe::finished(HttpResult result)
{
    if (m_kind == Kind::DeviceInfo && result.responded && result.status == 404) {
        logLine(lcProbes, "Attempting to query %@ as XPico device...", m_ipAddress);
        // Started right here on the network thread, so no busy pool can hold it up. The
        // address stands in for the redirect address too.
        start(Kind::XpicoData, m_controller, m_ipAddress, m_ipAddress, std::move(m_ticket));
        return;
    }
    // Any other status is read alike: what counts is a body that is a JSON object.
    if (result.body) {
        const std::optional<DeviceRecord> record = m_kind == Kind::DeviceInfo
                                                       ? deviceInfoRecord(*result.body, m_ipAddress, m_redirectAddress)
                                                       : xpicoRecord(*result.body, m_ipAddress, m_redirectAddress);
        if (record)
            merge(*record);
    }
    m_ticket.end();
}

void DeviceProbe::merge(const DeviceRecord &record)
{
    const Device device = std::make_shared<const DeviceRecord>(record);
    // One step on the main thread, so two probes of one device cannot both find it new.
    // The ticket is ended only after it, so a synchronous caller finds the record listed.
    mainSync([&] {
        if (m_kind == Kind::DeviceInfo) {
            if (m_controller->addIfNew(device, MainViewController::FoundList::Vudidu))
                logLine(lcProbes, "Corva/TRAM6 device found: %@", device->description());
        } else {
            m_controller->addIfNew(device, MainViewController::FoundList::Xpico);
            logLine(lcProbes, "XPico device found: %@", device->description());
        }
    });
}
