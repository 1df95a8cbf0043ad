// The range scan run: the controller's operations that expand the typed range and probe
// every address of it.

#include "model/mainviewcontroller.h"
#include "platform/backgroundpool.h"
#include "platform/log.h"
#include "platform/mainqueue.h"
#include "platform/preferences.h"
#include "discovery/networkinterfaces.h"
#include "scan/rangeexpression.h"

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
    beginScan({std::move(addresses)});
}

bool MainViewController::startLocalNetworksScan()
{
    requireMainThread("MainViewController::startLocalNetworksScan");
    if (m_discovering)
        return false;
    QList<IpRange> ranges;
    for (const LocalRange &network : localScanRanges(ipv4Interfaces())) {
        IpRange addresses = get_ip_range(network.range);
        logLine(lcScan, "IP range expanded into %lu addresses.", std::size_t(addresses.size()));
        ranges.append(std::move(addresses));
    }
    if (ranges.isEmpty()) {
        logLine(lcScan, "No network of this computer to scan: every interface is down, or loopback");
        return false;
    }
    beginScan(std::move(ranges));
    return true;
}

void MainViewController::beginScan(QList<IpRange> ranges)
{
    quint64 total = 0;
    for (const IpRange &range : std::as_const(ranges))
        total += quint64(range.size());
    m_discovering = true;
    // The run exists before the window first shows its progress.
    const std::shared_ptr<Run> run = beginRun(Run::Kind::Scan, total);
    showProgress(true);
    withControl(m_ipRangeButton, [](PushButton &button) {
        button.setTitle(QStringLiteral("Scanning..."));
        button.setEnabled(false);
    });
    withControl(m_discoverButton, [](PushButton &button) { button.setEnabled(false); });
    m_vudiduDevices.clear();
    m_xpicoDevices.clear();
    reloadTable();

    // Once stopped, the run has ended, and the task only winds down.
    BackgroundPool::global().async([self = shared_from_this(), ranges = std::move(ranges), run] {
        self->scanDevices(ranges, run);
        mainSync([&] {
            if (!run->isStopped())
                self->reloadTable();
        });
        mainSync([&] { self->completeRun(run); });
    });
}

void MainViewController::scanDevices(const QList<IpRange> &ranges, const std::shared_ptr<Run> &run)
{
    requireBackgroundThread("MainViewController::scanDevices");
    const auto processLimiter = std::make_shared<Semaphore>(probesInFlight);
    // Its leaves are the run's count of addresses probed.
    const std::shared_ptr<DispatchGroup> &dispatchGroup = run->group();
    {
        // A stop frees this thread from its wait for a unit: the unit it adds is never
        // given to a probe, since the walk ends.
        const std::stop_callback releaseWalk(run->stopToken(), [&processLimiter] { processLimiter->signal(); });
        // This thread walks the range and waits for each limiter unit itself, so nothing is
        // queued for an address whose probe has not started: threads and memory stay
        // bounded however large the range. Each address is looked up by name only once its
        // probe has found a device, and the probe keeps its unit until then. The network
        // thread gives units back at the end of each of its passes, so this thread wakes
        // once for all a pass ended, and it wakes the network thread only when that sleeps.
        qsizetype current = 0;
        std::optional<IpRange::iterator> next;
        // The ranges' addresses one after another; nothing at their end.
        const auto nextAddress = [&]() -> std::optional<QString> {
            for (; current < ranges.size(); ++current, next.reset()) {
                const IpRange &range = ranges.at(current);
                if (!next)
                    next = range.begin();
                if (*next != range.end()) {
                    QString address = **next;
                    ++*next;
                    return address;
                }
            }
            return std::nullopt;
        };
        for (std::optional<QString> address = nextAddress(); address && !run->isStopped(); address = nextAddress()) {
            processLimiter->wait();
            if (run->isStopped())
                break;
            dispatchGroup->enter();
            probe(ProbeJob{*address, *address, ProbeKind::DeviceInfo, run, ProbeTicket(processLimiter, dispatchGroup),
                           true});
        }
    }
    dispatchGroup->wait();
    if (!run->isStopped())
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
}

std::optional<MainViewController::ScanProgress> MainViewController::scanProgress() const
{
    requireMainThread("MainViewController::scanProgress");
    if (!m_latestScan)
        return std::nullopt;
    return ScanProgress{m_latestScan->probed(), m_latestScan->addresses(), m_latestScan->answers(),
                        m_latestScan != m_run};
}
