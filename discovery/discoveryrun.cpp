// The discovery run: the controller's operations that drive the two broadcasts and probe
// their responders.

#include "discovery/broadcastdiscovery.h"
#include "discovery/networkinterfaces.h"
#include "model/mainviewcontroller.h"
#include "platform/backgroundpool.h"
#include "platform/log.h"
#include "platform/mainqueue.h"

#include <QSet>

void MainViewController::startDiscovery()
{
    requireMainThread("MainViewController::startDiscovery");
    if (m_discovering)
        return;
    m_discovering = true;
    const std::shared_ptr<Run> run = beginRun(Run::Kind::Discovery);
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
        const std::optional<QList<ResponderEntry>> corva = self->discoverTram(stop);
        if (stop.stop_requested())
            return;
        self->queryTram(corva, run);
        mainSync([&] {
            if (!stop.stop_requested())
                self->reloadTable();
        });
        if (stop.stop_requested())
            return;
        const std::optional<QList<ResponderEntry>> xpico = self->discoveryBrio(stop);
        if (stop.stop_requested())
            return;
        if ((!corva || corva->isEmpty()) && (!xpico || xpico->isEmpty()))
            logLine(lcDiscovery, "No device answered the discovery broadcasts: either none is on the networks this "
                                 "computer is attached to, or a firewall drops their replies. Give --reply-port "
                                 "PORT and let UDP to that port in, or use the IP range scan");
        self->queryBrio(xpico, run);
        mainSync([&] { self->completeRun(run); });
    });
}

QList<BroadcastTarget> MainViewController::broadcastTargets() const
{
    // A destination given is used alone: the machine's interfaces are not even listed.
    if (!m_broadcastAddress.isEmpty())
        return {{m_broadcastAddress, 0}};
    return everyInterface(broadcastInterfaces(ipv4Interfaces()));
}

std::optional<QList<ResponderEntry>> MainViewController::discoveryBrio(std::stop_token stop)
{
    return runBroadcastDiscovery(xpicoProtocol(), broadcastTargets(), m_replyPort, m_resolver, std::move(stop),
                                 maxProbedResponders);
}

std::optional<QList<ResponderEntry>> MainViewController::discoverTram(std::stop_token stop)
{
    return runBroadcastDiscovery(corvaProtocol(), broadcastTargets(), m_replyPort, m_resolver, std::move(stop),
                                 maxProbedResponders);
}

// One probe at a time, so the devices appear one by one. A host that answers a thousand
// times, or forges a thousand sources, must not hold the run for hours: each address is
// probed once, and only so many of them.
template <typename Probe>
void MainViewController::probeResponders(const QList<ResponderEntry> &responders, const char *kind,
                                         const std::shared_ptr<Run> &run, Probe probe)
{
    QSet<QString> probed;
    qsizetype skipped = 0;
    for (qsizetype i = 0; i < responders.size(); ++i) {
        if (run->isStopped())
            return;
        const ResponderEntry &entry = responders.at(i);
        if (probed.contains(entry.ipAddress) || probed.size() >= maxProbedResponders) {
            ++skipped;
            continue;
        }
        probed.insert(entry.ipAddress);
        probe(entry);
        mainSync([this, &run] {
            if (!run->isStopped())
                reloadTable();
        });
    }
    if (skipped > 0)
        logLine(lcDiscovery, "%lu %@ replies were not probed: repeats of an address already probed, or beyond the "
                             "first 1,024 responders",
                std::size_t(skipped), QString::fromLatin1(kind));
}

void MainViewController::queryTram(const std::optional<QList<ResponderEntry>> &responders,
                                   const std::shared_ptr<Run> &run)
{
    if (!responders)
        return;
    logLine(lcDiscovery, "Querying %lu Corva Devices...", std::size_t(responders->size()));
    probeResponders(*responders, "Corva", run, [&](const ResponderEntry &entry) {
        getDeviceInfo(entry.hostname, entry.ipAddress, entry.redirectAddress, run);
    });
}

void MainViewController::queryBrio(const std::optional<QList<ResponderEntry>> &responders,
                                   const std::shared_ptr<Run> &run)
{
    // Unlike the Corva query, a missing list is logged, as a count of 0.
    logLine(lcDiscovery, "Querying %lu XPico Devices...", std::size_t(responders ? responders->size() : 0));
    if (!responders)
        return;
    probeResponders(*responders, "XPico", run, [&](const ResponderEntry &entry) {
        getXpicoInfo(entry.hostname, entry.ipAddress, entry.redirectAddress, run);
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
