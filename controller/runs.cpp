// The runs: how the controller starts discovery runs, range scans and lone probes, hands
// their background work to discovery/, scan/ and probes/, and ends each in one place.

#include "controller/mainviewcontroller.h"

#include "discovery/discoveryrun.h"
#include "localnet/networkinterfaces.h"
#include "platform/addresstext.h"
#include "platform/backgroundpool.h"
#include "platform/englishtext.h"
#include "platform/log.h"
#include "platform/mainqueue.h"
#include "platform/preferences.h"
#include "probes/deviceprobe.h"
#include "scan/knownaddresses.h"
#include "scan/rangescan.h"

std::shared_ptr<Run> MainViewController::beginRun(Run::Kind kind, quint64 addresses)
{
    requireMainThread("MainViewController::beginRun");
    m_run = std::make_shared<Run>(kind, weak_from_this(), addresses);
    if (kind == Run::Kind::Scan)
        m_latestScan = m_run;
    return m_run;
}

void MainViewController::completeRun(const std::shared_ptr<Run> &run)
{
    requireMainThread("MainViewController::completeRun");
    if (m_run == run)
        finishRun(false);
}

void MainViewController::finishRun(bool stopped)
{
    requireMainThread("MainViewController::finishRun");
    if (!m_run)
        return;
    const std::shared_ptr<Run> run = std::move(m_run);
    // How far it got is counted before the stop, which ends what is in flight as it goes.
    const quint64 probed = run->probed();
    run->stop();
    FinishedRun finished = reachOf(*run, stopped);
    finished.round = std::exchange(m_round, std::nullopt);
    switch (run->kind()) {
    case Run::Kind::Scan:
        break;
    case Run::Kind::Discovery:
        if (stopped)
            logLine(lcDiscovery, "Discovery stopped after %lu answers", std::size_t(run->answers()));
        discoveryStopped();
        showReport(std::exchange(m_report, nullptr)->copy());
        break;
    case Run::Kind::Probe:
        break;
    }
    if (std::exchange(m_runScans, false)) {
        if (stopped)
            logLine(lcScan, "Scan stopped after %@ of %@ addresses", groupedNumber(probed),
                    groupedNumber(run->addresses()));
        scanStopped();
    }
    finished.found = foundDevices();
    // Another instance may have labelled a device meanwhile.
    if (m_labels)
        m_labels->reload();
    // A failed discovery says why on the report's line, a failed scan on the history's.
    m_latestFailure = finished.kind == Run::Kind::Scan ? finished.failure : QString();
    recordInHistory(finished);
    if (stopped)
        reloadTable();
    else
        pruneToFoundDevices();
    showProgress(false);
    tellRunEnded(finished);
    showHistoryStatus();
    if (m_runFinished)
        m_runFinished(finished);
}

MainViewController::FinishedRun MainViewController::reachOf(const Run &run, bool stopped) const
{
    FinishedRun finished{.kind = run.kind(), .stopped = stopped, .askedEveryone = !stopped};
    if (stopped)
        return finished;
    if (run.kind() == Run::Kind::Discovery) {
        const DiscoveryReport report = m_report->copy();
        finished.failure = report.failure();
        finished.askedEveryone = report.askedEverything();
        // A watch round whose broadcasts could not go out is judged by its scan alone.
        if (finished.failure.isEmpty() || !m_runScans)
            return finished;
        finished.kind = Run::Kind::Scan;
        finished.failure.clear();
        finished.askedEveryone = true;
    }
    if (finished.kind == Run::Kind::Scan && run.probesWithoutRoute() == run.probesEnded() && run.probesEnded() > 0) {
        finished.askedEveryone = false;
        finished.failure = QStringLiteral("this computer has no route to the addresses of the range");
    } else if (finished.kind == Run::Kind::Scan && run.probesWithoutRoute() > 0) {
        // The rest of the range is judged as usual; a set too scattered to keep judges nobody.
        finished.unasked = std::make_shared<const UnaskedAddresses>(run.unasked());
        finished.askedEveryone = finished.unasked->isExact();
    }
    if (finished.kind == Run::Kind::Scan) {
        // A device's last address enters from the history as its text.
        finished.scope.covers = [ranges = m_scanRanges, known = m_askedKnown,
                                 unasked = finished.unasked](const QString &text) {
            const Address address = addressFromText(text);
            return (ranges->contains(address) || known.contains(text)) && !(unasked && unasked->contains(address));
        };
    }
    return finished;
}

// --- Discovery ---------------------------------------------------------------------------

void MainViewController::startDiscovery()
{
    requireMainThread("MainViewController::startDiscovery");
    if (isRunning())
        return;
    const std::shared_ptr<Run> run = beginDiscovery();
    // Once stopped, the run has ended, and the task only winds down.
    auto discovery = std::make_shared<DiscoveryRun>(DiscoverySetting{m_broadcastAddress, m_replyPort, m_resolver},
                                                    run, m_report);
    discovery->setReload([weak = weak_from_this()] {
        if (const auto self = weak.lock())
            self->reloadTable();
    });
    BackgroundPool::global().async([self = shared_from_this(), run, discovery] {
        discovery->run();
        if (!run->isStopped())
            mainSync([&] { self->completeRun(run); });
    });
}

std::shared_ptr<Run> MainViewController::beginDiscovery(quint64 addresses)
{
    const std::shared_ptr<Run> run = beginRun(Run::Kind::Discovery, addresses);
    m_report = std::make_shared<ReportInProgress>(ipv4Interfaces(), m_replyPort);
    showProgress(true);
    withControl(m_controls.discoverButton, [](PushButton &button) {
        button.setTitle(QStringLiteral("Discovering..."));
        button.setEnabled(false);
    });
    m_found = {};
    return run;
}

void MainViewController::discoveryStopped()
{
    requireMainThread("MainViewController::discoveryStopped");
    logLine(lcDiscovery, "Discovery Stopped");
    withControl(m_controls.discoverButton, [](PushButton &button) {
        button.setTitle(QStringLiteral("Discover (Local Network)"));
        button.setEnabled(true);
    });
}

void MainViewController::showReport(DiscoveryReport report)
{
    m_latestReport = std::move(report);
    const QString summary = m_latestReport->summaryLine();
    withControl(m_controls.reportLine, [&](InfoLine &line) {
        line.setText(summary.isEmpty() ? QString() : summary + QStringLiteral(" \u2014 Details"), QStringLiteral("Details"));
    });
}

// --- The range scan ----------------------------------------------------------------------

void MainViewController::startIPRangeScan()
{
    requireMainThread("MainViewController::startIPRangeScan");
    if (isRunning())
        return;
    markRangeBox(scanRange(rangeBoxText()));
}

QString MainViewController::rangeBoxText() const
{
    QString expression;
    withControl(m_controls.ipRangeTextBox, [&](TextField &field) { expression = field.stringValue(); });
    return expression;
}

void MainViewController::markRangeBox(bool expandable)
{
    withControl(m_controls.ipRangeTextBox, [&](TextField &field) {
        if (!expandable)
            field.setTextColor(systemOrangeColor);
        else if (m_controls.defaultTextColor)
            field.setTextColor(*m_controls.defaultTextColor);
    });
}

bool MainViewController::scanRange(const QString &expression)
{
    requireMainThread("MainViewController::scanRange");
    if (isRunning())
        return false;
    // Expanded here and now, before anything else changes; the list computes its addresses
    // as the scan walks it. One range is the whole text, as typed.
    const QStringList texts = rangeBoxTexts(expression);
    RangeListResult built = rangeListFromTexts(texts);
    if (!built) {
        logLine(lcScan, "Unable to expand IP Range: '%@'", expression);
        if (texts.size() > 1)
            logLine(lcScan, "%@", built.reason());
        return false;
    }
    Preferences::standard().setValue(LastScanAddressKey, expression);
    logLine(lcScan, "IP range expanded into %lu addresses.", std::size_t(built->size()));
    beginScan(std::make_shared<const RangeList>(*std::move(built)));
    return true;
}

bool MainViewController::scanRanges(RangeList ranges)
{
    requireMainThread("MainViewController::scanRanges");
    if (isRunning())
        return false;
    logLine(lcScan, "IP range expanded into %lu addresses.", std::size_t(ranges.size()));
    beginScan(std::make_shared<const RangeList>(std::move(ranges)));
    return true;
}

RangeList MainViewController::localNetworkRanges(bool logEach, QStringList *taken) const
{
    RangeList ranges;
    for (const LocalNetwork &network : localNetworks(ipv4Interfaces())) {
        if (logEach)
            logLine(lcScan, "%@", network.description());
        if (!network.isTaken())
            continue;
        // Two interfaces on one network: its addresses are asked once.
        if (const Result<> appended = ranges.appendExpression(network.range); !appended) {
            if (logEach)
                logLine(lcScan, "Leaving out %@: it %@", network.range, appended.reason());
        } else if (taken) {
            taken->append(network.range);
        }
    }
    return ranges;
}

bool MainViewController::startLocalNetworksScan()
{
    requireMainThread("MainViewController::startLocalNetworksScan");
    if (isRunning())
        return false;
    RangeList ranges = localNetworkRanges(true);
    if (ranges.isEmpty()) {
        logLine(lcScan, "No network of this computer to scan: every interface is down, without a carrier, or loopback");
        return false;
    }
    logLine(lcScan, "IP range expanded into %lu addresses.", std::size_t(ranges.size()));
    beginScan(std::make_shared<const RangeList>(std::move(ranges)));
    return true;
}

void MainViewController::beginScan(std::shared_ptr<const RangeList> ranges)
{
    m_scanRanges = ranges;
    m_askedKnown.clear();
    m_runScans = true;
    // The run exists before the window first shows its progress.
    const std::shared_ptr<Run> run = beginRun(Run::Kind::Scan, quint64(ranges->size()));
    showProgress(true);
    showScanning(run);
    m_found = {};
    reloadTable();

    // Once stopped, the run has ended, and the task only winds down.
    BackgroundPool::global().async([self = shared_from_this(), ranges = std::move(ranges), run, arpRate = m_arpRate] {
        scanDevices(ranges, run, self->m_resolver, arpRate);
        mainSync([&] {
            if (!run->isStopped())
                self->reloadTable();
        });
        mainSync([&] { self->completeRun(run); });
    });
}

bool MainViewController::startWatchRound(WatchRound round)
{
    requireMainThread("MainViewController::startWatchRound");
    if (isRunning() || (!round.discover && !round.walk && round.known.isEmpty()))
        return false;
    const std::shared_ptr<const RangeList> walk = round.walk;
    const quint64 addresses = walk ? quint64(walk->size()) : 0;
    std::shared_ptr<Run> run;
    if (round.discover) {
        run = beginDiscovery(addresses);
    } else {
        run = beginRun(Run::Kind::Scan, addresses);
        showProgress(true);
        m_found = {};
        showScanning(run);
    }
    m_runScans = walk || !round.discover;
    m_round = WatchRoundReach{};
    // What the round asks besides the broadcasts: nothing yet (see the end below).
    m_scanRanges = std::make_shared<const RangeList>();
    m_askedKnown.clear();
    reloadTable();
    std::shared_ptr<DiscoveryRun> discovery;
    if (round.discover) {
        discovery = std::make_shared<DiscoveryRun>(DiscoverySetting{m_broadcastAddress, m_replyPort, m_resolver}, run,
                                                   m_report);
        discovery->setReload([weak = weak_from_this()] {
            if (const auto self = weak.lock())
                self->reloadTable();
        });
    }
    BackgroundPool::global().async([self = shared_from_this(), run, discovery, known = std::move(round.known), walk,
                                    walkUntil = round.walkUntil, arpRate = round.arpRate] {
        if (discovery)
            discovery->run();
        // The known devices the broadcasts did not find are asked at their last addresses.
        QList<std::pair<QString, QString>> unanswered;
        mainSync([&] {
            if (run->isStopped())
                return;
            const QSet<QString> found = self->foundMacs();
            for (const auto &device : std::as_const(known))
                if (!found.contains(device.first))
                    unanswered.append(device);
            // The busy button has said "Discovering..."; the scan's progress follows.
            if (discovery && walk)
                self->showScanning(run);
        });
        QList<Address> addresses;
        for (const auto &device : std::as_const(unanswered))
            addresses.append(addressFromText(device.second));
        // The walk starts once the last ask has, while a silent device's ask waits for its end;
        // one ARP pace holds for both.
        std::optional<ArpPace> pace;
        if (arpRate > 0)
            pace.emplace(arpRate, std::chrono::steady_clock::now());
        qint64 walked = 0;
        const auto walkRanges = [&] {
            if (walk && !run->isStopped())
                walked = scanDevices(walk, run, self->m_resolver, arpRate, walkUntil, pace ? &*pace : nullptr);
        };
        qsizetype asked = 0;
        if (!addresses.isEmpty() && !run->isStopped())
            asked = askKnownAddresses(addresses, run, self->m_resolver, pace ? &*pace : nullptr, walkRanges);
        else
            walkRanges();
        mainSync([&] {
            if (!run->isStopped())
                self->endWatchRound(run, walk, unanswered.first(asked), walked);
        });
    });
    return true;
}

void MainViewController::endWatchRound(const std::shared_ptr<Run> &run, const std::shared_ptr<const RangeList> &walk,
                                       QList<std::pair<QString, QString>> asked, qint64 walked)
{
    // The round judges what it asked: the known devices asked and the addresses walked.
    for (const auto &device : std::as_const(asked))
        m_askedKnown.insert(device.second);
    if (walk)
        m_scanRanges = walked == walk->size() ? walk : std::make_shared<const RangeList>(walk->slice(0, walked));
    if (m_round)
        *m_round = {std::move(asked), walked};
    reloadTable();
    completeRun(run);
}

QSet<QString> MainViewController::foundMacs() const
{
    QSet<QString> macs;
    for (const Device &device : foundDevices())
        if (const std::optional<QString> mac = deviceMac(*device))
            macs.insert(*mac);
    return macs;
}

void MainViewController::showScanning(const std::shared_ptr<Run> &run)
{
    m_latestScan = run;
    withControl(m_controls.discoverButton, [](PushButton &button) {
        button.setTitle(QStringLiteral("Discover (Local Network)"));
        button.setEnabled(false);
    });
    withControl(m_controls.ipRangeButton, [](PushButton &button) {
        button.setTitle(QStringLiteral("Scanning..."));
        button.setEnabled(false);
    });
}

void MainViewController::scanStopped()
{
    requireMainThread("MainViewController::scanStopped");
    withControl(m_controls.ipRangeButton, [](PushButton &button) {
        button.setEnabled(true);
        button.setTitle(QStringLiteral("IP Range Scan"));
    });
    withControl(m_controls.discoverButton, [](PushButton &button) { button.setEnabled(true); });
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

// --- A lone probe ------------------------------------------------------------------------

void MainViewController::startProbe(const Address &address)
{
    requireMainThread("MainViewController::startProbe");
    if (isRunning())
        return;
    const std::shared_ptr<Run> run = beginRun(Run::Kind::Probe);
    // The synchronous probe waits for the main thread's merge, so it runs on the pool.
    BackgroundPool::global().async([self = shared_from_this(), run, address] {
        getDeviceInfo(address, addressText(address), run);
        mainSync([&] { self->completeRun(run); });
    });
}
