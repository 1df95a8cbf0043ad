#pragma once

#include "discovery/broadcastdiscovery.h"
#include "discovery/discoveryreport.h"
#include "discovery/responderentry.h"
#include "platform/resolver.h"
#include "probes/probejob.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// Where and how a discovery run's broadcasts go. Each goes once to broadcastAddress (tests
// pass a loopback address, the user one with --broadcast); when it is empty, to
// 255.255.255.255 out of every interface that can broadcast. The replies come to replyPort
// (0: one the system picks). Name look-ups go through the resolver.
struct DiscoverySetting final {
    Address broadcastAddress;
    quint16 replyPort = 0;
    std::shared_ptr<Resolver> resolver;
};

// The background work of one discovery run: each protocol's broadcast in the order of
// discoveryProtocols (the Corva devices', then the gateways'), each followed by its
// responders, probed in turn. Its probes merge into the run's sink, and what it sends and
// hears goes into the report. A stop ends it at once: it then only winds down. One
// background thread.
class DiscoveryRun final {
public:
    // A run probes at most this many responders of each broadcast.
    static constexpr qsizetype maxProbedResponders = 1024;

    DiscoveryRun(DiscoverySetting setting, std::shared_ptr<Run> run, std::shared_ptr<ReportInProgress> report);
    DiscoveryRun(const DiscoveryRun &) = delete;
    DiscoveryRun &operator=(const DiscoveryRun &) = delete;

    // Run on the main thread after each probe, and after each protocol but the last, unless
    // the run has stopped: the table shows the devices one by one.
    void setReload(std::function<void()> reload) { m_reload = std::move(reload); }

    // Every protocol in order, and the hint, before the last protocol's probes, when no
    // broadcast found anyone. Returns when the work is done or the run has stopped.
    void run();

    // One protocol's broadcast: blocks for its receive window; nothing when the socket could
    // not be set up or no request be sent.
    std::optional<QList<ResponderEntry>> discover(const BroadcastProtocol &protocol);
    // Probe the responders with the protocol's probe: each address once, at most
    // maxProbedResponders of them, those on the computer's own networks first, none once the
    // run is stopped; how each probe ended goes into the report.
    void query(const BroadcastProtocol &protocol, const std::optional<QList<ResponderEntry>> &responders);

    // The Corva devices' broadcast and probes, and the gateways'.
    std::optional<QList<ResponderEntry>> discoverTram() { return discover(corvaProtocol()); }
    void queryTram(const std::optional<QList<ResponderEntry>> &responders) { query(corvaProtocol(), responders); }
    std::optional<QList<ResponderEntry>> discoveryBrio() { return discover(xpicoProtocol()); }
    void queryBrio(const std::optional<QList<ResponderEntry>> &responders) { query(xpicoProtocol(), responders); }

private:
    BroadcastSetting broadcastSetting() const;
    void reload() const;

    const DiscoverySetting m_setting;
    const std::shared_ptr<Run> m_run;
    const std::shared_ptr<ReportInProgress> m_report; // may be null
    std::function<void()> m_reload;
};
