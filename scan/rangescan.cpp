// The range scan run: the controller's operations that expand the typed range and probe
// every address of it.

#include "model/mainviewcontroller.h"
#include "platform/backgroundpool.h"
#include "platform/log.h"
#include "platform/mainqueue.h"
#include "platform/preferences.h"
#include "scan/rangeexpression.h"
#include "probes/deviceprobe.h"

namespace {

constexpr int probesInFlight = 50;

} // namespace

void MainViewController::startIPRangeScan()
{
    requireMainThread("MainViewController::startIPRangeScan");
    if (m_discovering)
        return;
    QString expression;
    withControl(m_ipRangeTextBox, [&](TextField &field) { expression = field.stringValue(); });
    // Expanded here and now, before anything else changes; the range computes its
    // addresses as the scan walks it.
    IpRange addresses = get_ip_range(expression);
    if (addresses.isEmpty()) {
        logLine(lcScan, "Unable to expand IP Range: '%@'", expression);
        withControl(m_ipRangeTextBox, [](TextField &field) { field.setTextColor(systemOrangeColor); });
        return;
    }

    if (m_defaultTextColor) {
        withControl(m_ipRangeTextBox, [&](TextField &field) { field.setTextColor(*m_defaultTextColor); });
    }
    Preferences::standard().setValue(LastScanAddressKey, expression);
    logLine(lcScan, "IP range expanded into %lu addresses.", std::size_t(addresses.size()));
    m_discovering = true;
    // How far the scan is, for the window beside the busy indicator, from its first sight.
    m_scanGroup.reset();
    m_scanTotal = quint64(addresses.size());
    m_scanFinished = false;
    showProgress(true);
    withControl(m_ipRangeButton, [](PushButton &button) {
        button.setTitle(QStringLiteral("Scanning..."));
        button.setEnabled(false);
    });
    withControl(m_discoverButton, [](PushButton &button) { button.setEnabled(false); });
    m_vudiduDevices.clear();
    m_xpicoDevices.clear();
    reloadTable();
    const std::shared_ptr<StopToken> stop = beginRun(RunKind::Scan);

    // Once stopped, the stop has ended the run, and the task only winds down.
    BackgroundPool::global().async([self = shared_from_this(), addresses = std::move(addresses), stop] {
        self->scanDevices(addresses, stop);
        mainSync([&] {
            if (!stop->isStopped())
                self->reloadTable();
        });
        mainSync([&] {
            if (stop->isStopped())
                return;
            self->endRun();
            self->scanStopped();
            self->pruneToFoundDevices();
            self->runFinished();
        });
    });
}

void MainViewController::scanDevices(const IpRange &addresses, const std::shared_ptr<StopToken> &stop)
{
    requireBackgroundThread("MainViewController::scanDevices");
    const auto processLimiter = std::make_shared<Semaphore>(probesInFlight);
    const auto dispatchGroup = std::make_shared<DispatchGroup>();
    // Its count of ended probes is the run's progress.
    mainAsync([self = shared_from_this(), dispatchGroup] { self->m_scanGroup = dispatchGroup; });
    // A stop frees this thread from its wait for a unit: the unit it adds is never given
    // to a probe, since the walk ends.
    StopRegistration releaseWalk;
    if (stop)
        releaseWalk = stop->onStop([processLimiter] { processLimiter->signal(); });
    // This thread walks the range and waits for each limiter unit itself, so nothing is
    // queued for an address whose probe has not started: threads and memory stay bounded
    // however large the range. Each address is looked up by name only once its probe has
    // found a device, and the probe keeps its unit until then.
    for (const QString &address : addresses) {
        if (stop && stop->isStopped())
            break;
        processLimiter->wait();
        if (stop && stop->isStopped())
            break;
        dispatchGroup->enter();
        DeviceProbe::start(DeviceProbe::Kind::DeviceInfo, shared_from_this(), address, address,
                           ProbeTicket(processLimiter, dispatchGroup), stop, m_resolver);
    }
    releaseWalk.reset();
    dispatchGroup->wait();
    if (!stop || !stop->isStopped())
        logLine(lcScan, "SCAN COMPLETE");
}

void MainViewController::scanStopped()
{
    requireMainThread("MainViewController::scanStopped");
    m_discovering = false;
    withControl(m_ipRangeButton, [](PushButton &button) {
        button.setEnabled(true);
        button.setTitle(QStringLiteral("IP Range Scan"));
    });
    withControl(m_discoverButton, [](PushButton &button) { button.setEnabled(true); });
    showProgress(false);
    m_scanFinished = true;
}

std::optional<MainViewController::ScanProgress> MainViewController::scanProgress() const
{
    requireMainThread("MainViewController::scanProgress");
    if (m_scanTotal == 0)
        return std::nullopt;
    const quint64 probed = m_scanGroup ? quint64(m_scanGroup->left()) : 0;
    return ScanProgress{probed, m_scanTotal, m_scanFinished};
}
