#include "watch/watchsession.h"

#include "platform/addresstext.h"
#include "platform/englishtext.h"
#include "platform/log.h"
#include "platform/mainqueue.h"
#include "sweep/scansweep.h"

#include <net/if.h>

namespace {

// What tells one round's ranges from another's: the stretches they walk, in order.
QString walkKey(const RangeList &ranges)
{
    QString key;
    for (const RangeList::Stretch &stretch : ranges.stretches())
        key += addressText(stretch.first) + u'-' + addressText(stretch.last) + u' ';
    return key;
}

// What a round of ranges asks: the devices last seen inside them.
RunScope rangesScope(std::shared_ptr<const RangeList> ranges)
{
    return {[ranges = std::move(ranges)](const QString &text) { return ranges->contains(addressFromText(text)); }};
}

QSet<QString> foundMacs(const DeviceList &found)
{
    QSet<QString> macs;
    for (const Device &device : found)
        if (const std::optional<QString> mac = deviceMac(*device))
            macs.insert(*mac);
    return macs;
}

} // namespace

WatchSession::WatchSession(std::shared_ptr<MainViewController> controller, WatchFace face, WatchChoices choices)
    : m_controller(std::move(controller)), m_face(face), m_choices(std::move(choices)), m_watch(startingWatch())
{
    requireMainThread("WatchSession");
    m_controller->setSiteName(m_choices.site);
    m_controller->setWatchLogsRuns(true);
    m_observing = m_controller->observeRunEnds([this](const MainViewController::FinishedRun &finished) { runEnded(finished); });
    m_next.setSingleShot(true);
    QObject::connect(&m_next, &QTimer::timeout, &m_next, [this] {
        if (m_controller->isRunning())
            m_due = true;
        else
            startRound();
    });
}

WatchSession::~WatchSession()
{
    m_observing.reset();
    m_controller->setWatchLogsRuns(false);
    for (const std::unique_ptr<WatchOutput> &output : m_outputs)
        output->ended(*this);
}

DeviceWatch WatchSession::startingWatch() const
{
    const LoadedHistory history = m_controller->historyFile().isEmpty() ? LoadedHistory()
                                                                       : DeviceHistory::load(m_controller->historyFile());
    if (!history.usable)
        return DeviceWatch(m_choices.rule);
    if (!m_choices.ranges)
        return DeviceWatch(history.history, m_choices.rule);
    // The ranges as they are now: a source that reads them again each round is read once more.
    const RangeReading now = (*m_choices.ranges)();
    return DeviceWatch(history.history, now.ranges ? rangesScope(now.ranges) : RunScope{[](const QString &) { return false; }},
                       m_choices.rule, m_choices.discover);
}

void WatchSession::addOutput(std::unique_ptr<WatchOutput> output)
{
    m_outputs.push_back(std::move(output));
}

void WatchSession::start()
{
    m_watch.setWatched(m_controller->watchedTest());
    // Until a round asks, the time is that of the history's last discovery.
    if (!m_controller->historyFile().isEmpty())
        if (const LoadedHistory history = DeviceHistory::load(m_controller->historyFile()); history.usable)
            m_rounds.lastAskedEnd = history.history.lastCompletedDiscovery();
    if (m_choices.ranges)
        m_ranges = (*m_choices.ranges)();
    for (const std::unique_ptr<WatchOutput> &output : m_outputs)
        output->watching(*this);
    // A discovery in progress is the first round of a watch that discovers; a watch of ranges
    // alone starts its first round at its end.
    if (!m_controller->isRunning()) {
        startRound();
    } else if (m_choices.discover) {
        m_awaiting = true;
        m_roundStart = std::chrono::steady_clock::now();
    } else {
        m_due = true;
    }
}

void WatchSession::setChoices(WatchChoices choices)
{
    const bool anew = choices.rule.missingAfter != m_choices.rule.missingAfter;
    const bool sooner = choices.every < m_choices.every;
    m_choices = std::move(choices);
    m_controller->setSiteName(m_choices.site);
    if (anew) {
        m_watch = startingWatch();
        m_watch.setWatched(m_controller->watchedTest());
    }
    m_ranges = m_choices.ranges ? (*m_choices.ranges)() : RangeReading();
    for (const std::unique_ptr<WatchOutput> &output : m_outputs)
        output->watching(*this);
    if (sooner && m_next.isActive())
        scheduleNext();
}

QString WatchSession::watchingText() const
{
    QString range = m_ranges.text;
    // A long list of ranges is named by its start.
    constexpr qsizetype longest = 60;
    if (range.size() > longest)
        range = range.left(longest - 1) + QChar(0x2026);
    if (!m_ranges.ranges)
        return m_choices.discover ? QStringLiteral("Watching the local network")
                                  : QStringLiteral("Watching nothing until the range can be expanded");
    return m_choices.discover ? QStringLiteral("Watching the local network and %1").arg(range)
                              : QStringLiteral("Watching %1").arg(range);
}

void WatchSession::startRound()
{
    if (m_beforeRound && !m_beforeRound())
        return;
    m_roundStart = std::chrono::steady_clock::now();
    const QString problemBefore = m_ranges.problem;
    if (m_choices.ranges)
        m_ranges = (*m_choices.ranges)();
    if (m_ranges.problem != problemBefore)
        for (const std::unique_ptr<WatchOutput> &output : m_outputs)
            output->watching(*this);
    if (!m_choices.discover && !m_ranges.ranges) {
        roundFailed(m_ranges.problem);
        return;
    }
    // The known devices the round may miss are asked before they count as absent: those it
    // would judge.
    const bool discover = m_choices.discover;
    const RunScope inRanges = m_ranges.ranges ? rangesScope(m_ranges.ranges) : RunScope();
    const RunScope known = !discover ? inRanges : m_ranges.ranges ? anyOf(networksNow(), inRanges) : networksNow();
    MainViewController::WatchRound round{.discover = discover, .known = m_watch.knownDevices(known)};
    const quint32 pace = m_controller->arpRate();
    round.arpRate = pace != 0 || !m_ranges.ranges ? pace : rangeWatchArpRate;
    m_walk.reset();
    if (m_ranges.ranges) {
        m_walk = nextWalk(*m_ranges.ranges, round.known.size(), round.arpRate);
        round.walk = m_walk->part;
        // The walk ends a little before the next round is due, its probes under way meanwhile.
        if (m_choices.every > walkMargin)
            round.walkUntil = m_roundStart + m_choices.every - walkMargin;
    }
    if (m_controller->startWatchRound(std::move(round))) {
        m_awaiting = true;
        return;
    }
    // Another run took the controller meanwhile: the round waits for its end.
    if (m_controller->isRunning())
        m_due = true;
    else
        roundFailed(QStringLiteral("nothing to ask"));
}

WatchSession::Walk WatchSession::nextWalk(const RangeList &ranges, qsizetype knownAsks, quint32 arpRate)
{
    const QString key = walkKey(ranges);
    if (key != m_walkKey)
        m_walkResumesAt = 0; // other ranges: their walk starts at their first address
    m_walkKey = key;
    const ScanSweep::AddressCost cost = ScanSweep::addressCost();
    Walk walk;
    walk.budget = {ranges.size(), m_walkResumesAt, arpRate, m_choices.every, knownAsks, cost.requests, cost.verdictWait};
    walk.planned = planWalk(walk.budget);
    if (walk.planned.count == walk.budget.size && walk.planned.start == 0) {
        walk.part = m_ranges.ranges;
        return walk;
    }
    walk.part = std::make_shared<const RangeList>(ranges.slice(walk.planned.start, walk.planned.count));
    if (walk.planned.count < walk.budget.size)
        logLine(lcScan, "This round walks %@ of the ranges' %@ addresses, from %@ on", groupedNumber(walk.planned.count),
                groupedNumber(walk.budget.size), addressText(*walk.part->begin()));
    return walk;
}

void WatchSession::roundFailed(const QString &failure)
{
    ++m_rounds.failures;
    for (const std::unique_ptr<WatchOutput> &output : m_outputs)
        output->roundEnded(*this, {false, failure});
    scheduleNext();
}

void WatchSession::scheduleNext()
{
    const auto taken = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_roundStart);
    m_next.start(std::max(std::chrono::milliseconds(0), m_choices.every - taken));
}

RunScope WatchSession::networksNow() const
{
    // A broadcast of the user's reaches what it reaches: everyone is asked.
    if (!m_controller->broadcastAddress().isEmpty())
        return {};
    QList<NetworkInterface> up = m_interfaces();
    up.removeIf([](const NetworkInterface &interface) { return !(interface.flags & IFF_UP); });
    return {[up](const QString &text) {
        const std::optional<quint32> ipv4 = addressFromText(text).ipv4();
        return text.isEmpty() || (ipv4 && isOnAnyNetwork(*ipv4, up));
    }};
}

RunScope WatchSession::anyOf(const RunScope &one, const RunScope &other)
{
    if (one.isDiscovery() || other.isDiscovery())
        return {};
    return {[one, other](const QString &text) { return one.covers(text) || other.covers(text); }};
}

RunScope WatchSession::judgedScope(const MainViewController::FinishedRun &finished) const
{
    if (!finished.scope.isDiscovery())
        return finished.scope;
    // A laptop at another place does not miss the devices of the last one: a discovery asks
    // the networks this computer is on now, and whatever else its round asked.
    QSet<QString> asked;
    if (finished.round)
        for (const auto &device : finished.round->asked)
            asked.insert(device.second);
    std::shared_ptr<const RangeList> walked = m_walk ? m_walk->part : nullptr;
    return anyOf(networksNow(), {[asked, walked](const QString &text) {
                     return asked.contains(text) || (walked && walked->contains(addressFromText(text)));
                 }});
}

void WatchSession::endWalk(const MainViewController::FinishedRun &finished)
{
    const QSet<QString> found = foundMacs(finished.found);
    for (const auto &[mac, address] : finished.round->asked) {
        // A range round asks its known devices as its first step: only a silence is news.
        if (finished.kind == Run::Kind::Discovery || !found.contains(mac))
            logLine(lcScan, "Asked %@ at %@ before calling it missing: %@", mac, address,
                    found.contains(mac) ? QStringLiteral("it answered") : QStringLiteral("it did not answer"));
    }
    if (!m_walk)
        return;
    const qint64 size = m_walk->part->size();
    const qint64 walked = finished.round->walked;
    m_walkResumesAt = walkResumesAt(m_walk->budget, m_walk->planned, walked);
    if (walked < size)
        logLine(lcScan, "The round's time ran out after %@ of its %@ addresses; the next round goes on from there",
                groupedNumber(walked), groupedNumber(size));
}

void WatchSession::runEnded(const MainViewController::FinishedRun &finished)
{
    const bool own = finished.round.has_value();
    const bool awaited = std::exchange(m_awaiting, false);
    const bool judged = (own || finished.kind == Run::Kind::Discovery) && !finished.stopped;
    if (judged && finished.failure.isEmpty()) {
        if (own)
            endWalk(finished);
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const QDateTime time = finished.recordedAt.isValid() ? finished.recordedAt : now;
        m_watch.setWatched(m_controller->watchedTest());
        QList<WatchChange> changes;
        for (WatchEvent &event : m_watch.update(finished.found, finished.askedEveryone, time, judgedScope(finished)))
            changes.append({std::move(event), time});
        m_rounds.lastAskedEnd = now;
        if (own)
            m_rounds.lastAskedDuration =
                std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_roundStart);
        if (!changes.isEmpty())
            for (const std::unique_ptr<WatchOutput> &output : m_outputs)
                output->changed(*this, changes);
        for (const std::unique_ptr<WatchOutput> &output : m_outputs)
            output->roundEnded(*this, {});
    } else if (judged) {
        ++m_rounds.failures;
        for (const std::unique_ptr<WatchOutput> &output : m_outputs)
            output->roundEnded(*this, {false, finished.failure});
    }
    m_walk.reset();
    // Never from within the run's end: the next round starts once it is over.
    if (awaited)
        scheduleNext();
    else if (std::exchange(m_due, false))
        m_next.start(0);
}
