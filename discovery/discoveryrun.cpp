#include "discovery/discoveryrun.h"

#include "platform/englishtext.h"
#include "platform/log.h"
#include "platform/mainqueue.h"

#include <algorithm>
#include <set>

DiscoveryRun::DiscoveryRun(DiscoverySetting setting, std::shared_ptr<Run> run,
                           std::shared_ptr<ReportInProgress> report)
    : m_setting(std::move(setting)), m_run(std::move(run)), m_report(std::move(report))
{
}

// Strictly in this order; it reaches the main thread only to wait for a reload.
void DiscoveryRun::run()
{
    bool sent = false;
    bool answered = false;
    for (const DiscoveryProtocol name : discoveryProtocols) {
        const BroadcastProtocol &protocol = broadcastProtocol(name);
        const bool last = name == std::end(discoveryProtocols)[-1];
        const std::optional<QList<ResponderEntry>> responders = discover(protocol);
        if (m_run->isStopped())
            return;
        sent = sent || responders;
        answered = answered || (responders && !responders->isEmpty());
        // A run that sent nothing asked nobody: its report says why instead.
        if (last && sent && !answered) {
            logLine(lcDiscovery, noDeviceAnsweredHint);
            if (m_report)
                m_report->change([](DiscoveryReport &report) { report.setHint(true); });
        }
        query(protocol, responders);
        if (last)
            return;
        reload();
        if (m_run->isStopped())
            return;
    }
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

std::optional<QList<ResponderEntry>> DiscoveryRun::discover(const BroadcastProtocol &protocol)
{
    return runBroadcastDiscovery(protocol, broadcastSetting(), m_run->stopToken());
}

// One probe at a time, so the devices appear one by one: those on the computer's own
// networks first, so that a responder that cannot be reached delays none of them. A host
// that answers a thousand times, or forges a thousand sources, must not hold the run for
// hours: each address is probed once, and only so many of them. Every responder stands in
// the report as not probed until its probe says how it ended.
void DiscoveryRun::query(const BroadcastProtocol &protocol, const std::optional<QList<ResponderEntry>> &responders)
{
    if (responders || protocol.queryingWithoutList)
        logLine(lcDiscovery, protocol.querying, std::size_t(responders ? responders->size() : 0));
    if (!responders)
        return;
    QList<ResponderEntry> ordered = *responders;
    if (m_report) {
        std::stable_partition(ordered.begin(), ordered.end(), [&](const ResponderEntry &entry) {
            const std::optional<quint32> ip = entry.ipAddress.ipv4();
            return ip && isOnAnyNetwork(*ip, m_report->interfaces());
        });
        m_report->change([&](DiscoveryReport &notes) {
            for (const ResponderEntry &entry : std::as_const(ordered))
                notes.noteResponder(protocol.name, entry.ipAddress, entry.interfaceIndex);
        });
    }
    std::set<Address> probed;
    qsizetype skipped = 0;
    for (const ResponderEntry &entry : std::as_const(ordered)) {
        if (m_run->isStopped())
            return;
        if (probed.contains(entry.ipAddress) || qsizetype(probed.size()) >= maxProbedResponders) {
            ++skipped;
            continue;
        }
        probed.insert(entry.ipAddress);
        const ProbeOutcome outcome = protocol.probe(entry.ipAddress, entry.redirectAddress, m_run);
        if (m_report)
            m_report->change([&](DiscoveryReport &notes) { notes.noteProbed(protocol.name, entry.ipAddress, outcome); });
        reload();
    }
    if (skipped > 0)
        logLine(lcDiscovery, "%lu %@ replies were not probed: repeats of an address already probed, or beyond the "
                             "first %@ responders",
                std::size_t(skipped), protocolTitle(protocol.name), groupedNumber(maxProbedResponders));
}
