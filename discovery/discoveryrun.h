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
    QString broadcastAddress;
    quint16 replyPort = 0;
    std::shared_ptr<Resolver> resolver;
};

// The background work of one discovery run: the Corva broadcast, each of its responders
// probed in turn, then the gateways' broadcast and its responders. Its probes merge into
// the run's sink, and what it sends and hears goes into the report. A stop ends it at once:
// it then only winds down. One background thread.
class DiscoveryRun final {
public:
    // A run probes at most this many responders of each broadcast.
    static constexpr qsizetype maxProbedResponders = 1024;

    DiscoveryRun(DiscoverySetting setting, std::shared_ptr<Run> run, std::shared_ptr<ReportInProgress> report);
    DiscoveryRun(const DiscoveryRun &) = delete;
    DiscoveryRun &operator=(const DiscoveryRun &) = delete;

    // Run on the main thread after each probe, and after the Corva half, unless the run has
    // stopped: the table shows the devices one by one.
    void setReload(std::function<void()> reload) { m_reload = std::move(reload); }

    // Both halves in order, and the hint when neither broadcast found anyone. Returns when
    // the work is done or the run has stopped.
    void run();

    // The two broadcasts: block for their receive window; nothing when the socket could not
    // be set up or no request be sent.
    std::optional<QList<ResponderEntry>> discoveryBrio();
    std::optional<QList<ResponderEntry>> discoverTram();
    // Probe the responders with the device info probe / the gateway data probe: each address
    // once, at most maxProbedResponders of them, those on the computer's own networks first,
    // none once the run is stopped; how each probe ended goes into the report.
    void queryTram(const std::optional<QList<ResponderEntry>> &responders);
    void queryBrio(const std::optional<QList<ResponderEntry>> &responders);

private:
    BroadcastSetting broadcastSetting() const;
    template <typename Probe>
    void probeResponders(const QList<ResponderEntry> &responders, DiscoveryProtocol protocol, Probe probe);
    void reload() const;

    const DiscoverySetting m_setting;
    const std::shared_ptr<Run> m_run;
    const std::shared_ptr<ReportInProgress> m_report; // may be null
    std::function<void()> m_reload;
};
