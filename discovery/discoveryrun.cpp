#include "discovery/discoveryrun.h"

#include "platform/englishtext.h"
#include "platform/log.h"
#include "platform/mainqueue.h"
#include "probes/deviceprobe.h"

#include <QHostAddress>
#include <QSet>

#include <algorithm>

DiscoveryRun::DiscoveryRun(DiscoverySetting setting, std::shared_ptr<Run> run,
                           std::shared_ptr<ReportInProgress> report)
    : m_setting(std::move(setting)), m_run(std::move(run)), m_report(std::move(report))
{
}

// Strictly in this order; it reaches the main thread only to wait for a reload.
void DiscoveryRun::run()
{
    const std::optional<QList<ResponderEntry>> corva = discoverTram();
    if (m_run->isStopped())
        return;
    queryTram(corva);
    reload();
    if (m_run->isStopped())
        return;
    const std::optional<QList<ResponderEntry>> xpico = discoveryBrio();
    if (m_run->isStopped())
        return;
    // A run that sent nothing asked nobody: its report says why instead.
    const bool sent = corva || xpico;
    if (sent && (!corva || corva->isEmpty()) && (!xpico || xpico->isEmpty())) {
        logLine(lcDiscovery, noDeviceAnsweredHint);
        if (m_report)
            m_report->change([](DiscoveryReport &report) { report.setHint(true); });
    }
    queryBrio(xpico);
}

void DiscoveryRun::reload() const
{
    if (!m_reload)
        return;
    mainSync([this] {
        if (!m_run->isStopped())
            m_reload();
    });
}

BroadcastSetting DiscoveryRun::broadcastSetting() const
{
    BroadcastSetting setting{{}, m_setting.replyPort, m_setting.resolver, maxProbedResponders, m_report};
    // A destination given is used alone: the machine's interfaces are not even listed.
    if (!m_setting.broadcastAddress.isEmpty())
        setting.targets = {{m_setting.broadcastAddress, 0}};
    else
        setting.targets = everyInterface(broadcastInterfaces(m_report ? m_report->interfaces() : ipv4Interfaces()));
    return setting;
}

std::optional<QList<ResponderEntry>> DiscoveryRun::discoveryBrio()
{
    return runBroadcastDiscovery(xpicoProtocol(), broadcastSetting(), m_run->stopToken());
}

std::optional<QList<ResponderEntry>> DiscoveryRun::discoverTram()
{
    return runBroadcastDiscovery(corvaProtocol(), broadcastSetting(), m_run->stopToken());
}

// One probe at a time, so the devices appear one by one: those on the computer's own
// networks first, so that a responder that cannot be reached delays none of them. A host
// that answers a thousand times, or forges a thousand sources, must not hold the run for
// hours: each address is probed once, and only so many of them. Every responder stands in
// the report as not probed until its probe says how it ended.
template <typename Probe>
void DiscoveryRun::probeResponders(const QList<ResponderEntry> &responders, DiscoveryProtocol protocol, Probe probe)
{
    QList<ResponderEntry> ordered = responders;
    if (m_report) {
        std::stable_partition(ordered.begin(), ordered.end(), [&](const ResponderEntry &entry) {
            return isOnAnyNetwork(QHostAddress(entry.ipAddress).toIPv4Address(), m_report->interfaces());
        });
        m_report->change([&](DiscoveryReport &notes) {
            for (const ResponderEntry &entry : std::as_const(ordered))
                notes.noteResponder(protocol, entry.ipAddress, entry.interfaceIndex);
        });
    }
    QSet<QString> probed;
    qsizetype skipped = 0;
    for (const ResponderEntry &entry : std::as_const(ordered)) {
        if (m_run->isStopped())
            return;
        if (probed.contains(entry.ipAddress) || probed.size() >= maxProbedResponders) {
            ++skipped;
            continue;
        }
        probed.insert(entry.ipAddress);
        const ProbeOutcome outcome = probe(entry);
        if (m_report)
            m_report->change([&](DiscoveryReport &notes) { notes.noteProbed(protocol, entry.ipAddress, outcome); });
        reload();
    }
    if (skipped > 0)
        logLine(lcDiscovery, "%lu %@ replies were not probed: repeats of an address already probed, or beyond the "
                             "first %@ responders",
                std::size_t(skipped), protocolTitle(protocol), groupedNumber(maxProbedResponders));
}

void DiscoveryRun::queryTram(const std::optional<QList<ResponderEntry>> &responders)
{
    if (!responders)
        return;
    logLine(lcDiscovery, "Querying %lu Corva Devices...", std::size_t(responders->size()));
    probeResponders(*responders, DiscoveryProtocol::Corva, [this](const ResponderEntry &entry) {
        return getDeviceInfo(entry.ipAddress, entry.redirectAddress, m_run);
    });
}

void DiscoveryRun::queryBrio(const std::optional<QList<ResponderEntry>> &responders)
{
    // Unlike the Corva query, a missing list is logged, as a count of 0.
    logLine(lcDiscovery, "Querying %lu XPico Devices...", std::size_t(responders ? responders->size() : 0));
    if (!responders)
        return;
    probeResponders(*responders, DiscoveryProtocol::Xpico, [this](const ResponderEntry &entry) {
        return getXpicoInfo(entry.ipAddress, entry.redirectAddress, m_run);
    });
}
