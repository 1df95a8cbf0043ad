// The discovery run: the controller's operations that drive the two broadcasts and probe
// their responders.

#include "discovery/broadcastdiscovery.h"
#include "discovery/networkinterfaces.h"
#include "model/mainviewcontroller.h"
#include "platform/backgroundpool.h"
#include "platform/log.h"
#include "platform/mainqueue.h"

#include <QHostAddress>
#include <QSet>

#include <algorithm>

namespace {

// How a probe that made no row is told in the report; nothing for one that listed a device.
std::optional<UnlistedReason> failureOf(const ProbeOutcome &outcome)
{
    switch (outcome.kind) {
    case ProbeOutcome::Kind::Listed:
        return std::nullopt;
    case ProbeOutcome::Kind::NoAnswer:
        return UnlistedReason::NoAnswer;
    case ProbeOutcome::Kind::Refused:
        return UnlistedReason::Refused;
    case ProbeOutcome::Kind::HttpStatus:
        return UnlistedReason::HttpStatus;
    case ProbeOutcome::Kind::NotJson:
        return UnlistedReason::NotJson;
    case ProbeOutcome::Kind::NoMac:
        return UnlistedReason::NoMac;
    case ProbeOutcome::Kind::Stopped:
        break;
    }
    return UnlistedReason::NotProbed;
}

} // namespace

void MainViewController::startDiscovery()
{
    requireMainThread("MainViewController::startDiscovery");
    if (m_discovering)
        return;
    m_discovering = true;
    const std::shared_ptr<Run> run = beginRun(Run::Kind::Discovery);
    run->setReport(std::make_shared<ReportInProgress>(ipv4Interfaces(), m_replyPort));
    showProgress(true);
    withControl(m_discoverButton, [](PushButton &button) {
        button.setTitle(QStringLiteral("Discovering..."));
        button.setEnabled(false);
    });
    m_vudiduDevices.clear();
    m_xpicoDevices.clear();

    // One background task, strictly in this order; it reaches the main thread only to wait
    // for a reload and for the final step. Once stopped, the run has ended, and the task
    // only winds down.
    BackgroundPool::global().async([self = shared_from_this(), run] {
        const std::stop_token stop = run->stopToken();
        const std::optional<QList<ResponderEntry>> corva = self->discoverTram(stop, run->report());
        if (stop.stop_requested())
            return;
        self->queryTram(corva, run);
        mainSync([&] {
            if (!stop.stop_requested())
                self->reloadTable();
        });
        if (stop.stop_requested())
            return;
        const std::optional<QList<ResponderEntry>> xpico = self->discoveryBrio(stop, run->report());
        if (stop.stop_requested())
            return;
        if ((!corva || corva->isEmpty()) && (!xpico || xpico->isEmpty())) {
            logLine(lcDiscovery, "No device answered the discovery broadcasts: either none is on the networks this "
                                 "computer is attached to, or a firewall drops their replies. Give --reply-port "
                                 "PORT and let UDP to that port in, or use the IP range scan");
            run->report()->change([](DiscoveryReport &report) { report.setHint(true); });
        }
        self->queryBrio(xpico, run);
        mainSync([&] { self->completeRun(run); });
    });
}

BroadcastSetting MainViewController::broadcastSetting(const std::shared_ptr<ReportInProgress> &report) const
{
    BroadcastSetting setting{{}, m_replyPort, m_resolver, maxProbedResponders, report};
    // A destination given is used alone: the machine's interfaces are not even listed.
    if (!m_broadcastAddress.isEmpty())
        setting.targets = {{m_broadcastAddress, 0}};
    else
        setting.targets = everyInterface(broadcastInterfaces(report ? report->interfaces() : ipv4Interfaces()));
    return setting;
}

std::optional<QList<ResponderEntry>> MainViewController::discoveryBrio(std::stop_token stop,
                                                                       const std::shared_ptr<ReportInProgress> &report)
{
    return runBroadcastDiscovery(xpicoProtocol(), broadcastSetting(report), std::move(stop));
}

std::optional<QList<ResponderEntry>> MainViewController::discoverTram(std::stop_token stop,
                                                                      const std::shared_ptr<ReportInProgress> &report)
{
    return runBroadcastDiscovery(corvaProtocol(), broadcastSetting(report), std::move(stop));
}

// One probe at a time, so the devices appear one by one: those on the computer's own
// networks first, so that a responder that cannot be reached delays none of them. A host
// that answers a thousand times, or forges a thousand sources, must not hold the run for
// hours: each address is probed once, and only so many of them. Every responder stands in
// the run's report as not probed until its probe says how it ended.
template <typename Probe>
void MainViewController::probeResponders(const QList<ResponderEntry> &responders, DiscoveryProtocol protocol,
                                         const std::shared_ptr<Run> &run, Probe probe)
{
    const std::shared_ptr<ReportInProgress> &report = run->report();
    QList<ResponderEntry> ordered = responders;
    if (report) {
        std::stable_partition(ordered.begin(), ordered.end(), [&](const ResponderEntry &entry) {
            return isOnAnyNetwork(QHostAddress(entry.ipAddress).toIPv4Address(), report->interfaces());
        });
        report->change([&](DiscoveryReport &notes) {
            for (const ResponderEntry &entry : std::as_const(ordered))
                notes.noteResponder(protocol, entry.ipAddress, entry.interfaceIndex);
        });
    }
    QSet<QString> probed;
    qsizetype skipped = 0;
    for (const ResponderEntry &entry : std::as_const(ordered)) {
        if (run->isStopped())
            return;
        if (probed.contains(entry.ipAddress) || probed.size() >= maxProbedResponders) {
            ++skipped;
            continue;
        }
        probed.insert(entry.ipAddress);
        const ProbeOutcome outcome = probe(entry);
        if (report && outcome.kind != ProbeOutcome::Kind::Stopped)
            report->change([&](DiscoveryReport &notes) {
                notes.noteProbed(protocol, entry.ipAddress, failureOf(outcome), outcome.status);
            });
        mainSync([this, &run] {
            if (!run->isStopped())
                reloadTable();
        });
    }
    if (skipped > 0)
        logLine(lcDiscovery, "%lu %@ replies were not probed: repeats of an address already probed, or beyond the "
                             "first 1,024 responders",
                std::size_t(skipped),
                protocol == DiscoveryProtocol::Corva ? QStringLiteral("Corva") : QStringLiteral("XPico"));
}

void MainViewController::queryTram(const std::optional<QList<ResponderEntry>> &responders,
                                   const std::shared_ptr<Run> &run)
{
    if (!responders)
        return;
    logLine(lcDiscovery, "Querying %lu Corva Devices...", std::size_t(responders->size()));
    probeResponders(*responders, DiscoveryProtocol::Corva, run, [&](const ResponderEntry &entry) {
        return getDeviceInfo(entry.hostname, entry.ipAddress, entry.redirectAddress, run);
    });
}

void MainViewController::queryBrio(const std::optional<QList<ResponderEntry>> &responders,
                                   const std::shared_ptr<Run> &run)
{
    // Unlike the Corva query, a missing list is logged, as a count of 0.
    logLine(lcDiscovery, "Querying %lu XPico Devices...", std::size_t(responders ? responders->size() : 0));
    if (!responders)
        return;
    probeResponders(*responders, DiscoveryProtocol::Xpico, run, [&](const ResponderEntry &entry) {
        return getXpicoInfo(entry.hostname, entry.ipAddress, entry.redirectAddress, run);
    });
}

void MainViewController::discoveryStopped()
{
    requireMainThread("MainViewController::discoveryStopped");
    logLine(lcDiscovery, "Discovery Stopped");
    m_discovering = false;
    withControl(m_discoverButton, [](PushButton &button) {
        button.setTitle(QStringLiteral("Discover (Local Network)"));
        button.setEnabled(true);
    });
}
