#include "probes/deviceprobe.h"

#include "model/mainviewcontroller.h"
#include "platform/log.h"
#include "platform/mainqueue.h"
#include "probes/deviceinforecord.h"
#include "probes/probemerge.h"
#include "probes/xpicorecord.h"

// --- The controller's entry points -------------------------------------------------------

void MainViewController::getDeviceInfoAsync(const std::optional<QString> & /*deviceName*/, const QString &ipAddress,
                                             const std::optional<QString> &redirectAddress,
                                             std::shared_ptr<Semaphore> processLimiter,
                                             std::shared_ptr<DispatchGroup> dispatchGroup,
                                             std::shared_ptr<StopToken> stop)
{
    DeviceProbe::start(DeviceProbe::Kind::DeviceInfo, shared_from_this(), ipAddress, redirectAddress,
                       ProbeTicket(std::move(processLimiter), std::move(dispatchGroup)), std::move(stop));
}

void MainViewController::getXpicoInfoAsync(const std::optional<QString> & /*deviceName*/, const QString &ipAddress,
                                            const std::optional<QString> &redirectAddress,
                                            std::shared_ptr<Semaphore> processLimiter,
                                            std::shared_ptr<DispatchGroup> dispatchGroup,
                                            std::shared_ptr<StopToken> stop)
{
    DeviceProbe::start(DeviceProbe::Kind::XpicoData, shared_from_this(), ipAddress, redirectAddress,
                       ProbeTicket(std::move(processLimiter), std::move(dispatchGroup)), std::move(stop));
}

void MainViewController::getDeviceInfo(const std::optional<QString> &deviceName, const QString &ipAddress,
                                       const std::optional<QString> &redirectAddress, std::shared_ptr<StopToken> stop)
{
    requireBackgroundThread("MainViewController::getDeviceInfo");
    if (stop && stop->isStopped())
        return;
    // The probe's one give-back, after its merge and any hand-over, ends this wait.
    const auto ended = std::make_shared<Semaphore>(0);
    getDeviceInfoAsync(deviceName, ipAddress, redirectAddress, ended, nullptr, std::move(stop));
    ended->wait();
}

void MainViewController::getXpicoInfo(const std::optional<QString> &deviceName, const QString &ipAddress,
                                      const std::optional<QString> &redirectAddress, std::shared_ptr<StopToken> stop)
{
    requireBackgroundThread("MainViewController::getXpicoInfo");
    if (stop && stop->isStopped())
        return;
    const auto ended = std::make_shared<Semaphore>(0);
    getXpicoInfoAsync(deviceName, ipAddress, redirectAddress, ended, nullptr, std::move(stop));
    ended->wait();
}

// --- One probe ---------------------------------------------------------------------------

void DeviceProbe::start(Kind kind, std::shared_ptr<MainViewController> controller, const QString &ipAddress,
                        const std::optional<QString> &redirectAddress, ProbeTicket ticket,
                        std::shared_ptr<StopToken> stop, std::shared_ptr<Resolver> nameResolver)
{
    const QString path = kind == Kind::DeviceInfo ? QStringLiteral("/info") : QStringLiteral("/getdata.json");
    // Joined as they are: an address text may carry a port.
    logLine(lcProbes, "GET %@", QStringLiteral("http://") + ipAddress + path);
    // A text that would send the request to any other host makes no URL, and the
    // request fails as a transport error.
    const std::optional<QUrl> url = probeUrl(ipAddress, path);
    httpGet(url ? url->toString(QUrl::FullyEncoded) : QString(),
            std::unique_ptr<HttpHandler>(new DeviceProbe(kind, std::move(controller), ipAddress, redirectAddress,
                                                         std::move(ticket), stop, std::move(nameResolver))),
            stop);
}

DeviceProbe::DeviceProbe(Kind kind, std::shared_ptr<MainViewController> controller, const QString &ipAddress,
                         const std::optional<QString> &redirectAddress, ProbeTicket ticket,
                         std::shared_ptr<StopToken> stop, std::shared_ptr<Resolver> nameResolver)
    : m_kind(kind), m_controller(std::move(controller)), m_ipAddress(ipAddress),
      m_redirectAddress(redirectAddress), m_ticket(std::move(ticket)), m_stop(std::move(stop)),
      m_nameResolver(std::move(nameResolver))
{
}

void DeviceProbe::finished(HttpResult result)
{
    if (m_stop && m_stop->isStopped()) {
        m_ticket.end();
        return;
    }
    if (m_kind == Kind::DeviceInfo && result.responded && result.status == 404) {
        logLine(lcProbes, "Attempting to query %@ as XPico device...", m_ipAddress);
        // Started right here on the network thread, so no busy pool can hold it up. The
        // address stands in for the redirect address too.
        start(Kind::XpicoData, m_controller, m_ipAddress, m_ipAddress, std::move(m_ticket), m_stop);
        return;
    }
    // Any other status that came with a response is read alike: what counts is a body
    // that is a JSON object.
    std::optional<DeviceRecord> record;
    if (result.responded && result.body) {
        const std::optional<QString> redirect = m_nameResolver ? std::optional(m_ipAddress) : m_redirectAddress;
        record = m_kind == Kind::DeviceInfo ? deviceInfoRecord(*result.body, m_ipAddress, redirect)
                                            : xpicoRecord(*result.body, m_ipAddress, redirect);
    }
    if (!record) {
        m_ticket.end();
        return;
    }
    const auto merge = std::make_shared<ProbeMerge>(
        m_kind == Kind::DeviceInfo ? ProbeMerge::List::Vudidu : ProbeMerge::List::Xpico, m_controller,
        std::move(*record), std::move(m_ticket), m_stop);
    if (m_nameResolver)
        merge->postAfterLookUp(m_nameResolver, m_ipAddress);
    else
        merge->post();
}
