// The discovery run: the controller's operations that drive the two broadcasts and probe
// their responders.

#include "discovery/broadcastdiscovery.h"
#include "model/mainviewcontroller.h"
#include "platform/backgroundpool.h"
#include "platform/log.h"
#include "platform/mainqueue.h"

void MainViewController::startDiscovery()
{
    requireMainThread("MainViewController::startDiscovery");
    if (m_discovering)
        return;
    m_discovering = true;
    showProgress(true);
    withControl(m_discoverButton, [](PushButton &button) {
        button.setTitle(QStringLiteral("Discovering..."));
        button.setEnabled(false);
    });
    m_vudiduDevices.clear();
    m_xpicoDevices.clear();
    const std::shared_ptr<StopToken> stop = beginRun(RunKind::Discovery);

    // One background task, strictly in this order; it reaches the main thread only to wait
    // for a reload and for the final step. Once stopped, the stop has ended the run, and
    // the task only winds down.
    BackgroundPool::global().async([self = shared_from_this(), stop] {
        self->queryTram(self->discoverTram());
        mainSync([&] {
            if (!stop->isStopped())
                self->reloadTable();
        });
        self->queryBrio(self->discoveryBrio());
        mainSync([&] {
            if (stop->isStopped())
                return;
            self->endRun();
            self->discoveryStopped();
            self->pruneToFoundDevices();
            self->showProgress(false);
            self->runFinished();
        });
    });
}

std::optional<QList<ResponderEntry>> MainViewController::discoveryBrio()
{
    return runBroadcastDiscovery(xpicoProtocol(), m_broadcastAddress, *m_resolver);
}

std::optional<QList<ResponderEntry>> MainViewController::discoverTram()
{
    return runBroadcastDiscovery(corvaProtocol(), m_broadcastAddress, *m_resolver);
}

void MainViewController::queryTram(const std::optional<QList<ResponderEntry>> &responders)
{
    if (!responders)
        return;
    logLine(lcDiscovery, "Querying %lu Corva Devices...", std::size_t(responders->size()));
    // One probe at a time, so the devices appear one by one.
    for (qsizetype i = 0; i < responders->size(); ++i) {
        const ResponderEntry &entry = responders->at(i);
        getDeviceInfo(entry.hostname, entry.ipAddress, entry.redirectAddress);
        mainSync([this] { reloadTable(); });
    }
}

void MainViewController::queryBrio(const std::optional<QList<ResponderEntry>> &responders)
{
    // Unlike the Corva query, a missing list is logged, as a count of 0.
    logLine(lcDiscovery, "Querying %lu XPico Devices...", std::size_t(responders ? responders->size() : 0));
    if (!responders)
        return;
    for (qsizetype i = 0; i < responders->size(); ++i) {
        const ResponderEntry &entry = responders->at(i);
        getXpicoInfo(entry.hostname, entry.ipAddress, entry.redirectAddress);
        mainSync([this] { reloadTable(); });
    }
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
