// Watching: the controller's operations that repeat a round of what the user watches (the
// broadcast, the range in the range box, or both) and tell the user what changed.

#include "controller/mainviewcontroller.h"

#include "history/changenotice.h"
#include "platform/addresstext.h"
#include "platform/log.h"
#include "platform/mainqueue.h"
#include "platform/preferences.h"

#include <QThread>

namespace {

// What a round of ranges alone asks: the devices last seen inside them.
RunScope rangesScope(const std::shared_ptr<const RangeList> &ranges)
{
    RunScope scope;
    scope.covers = [ranges](const QString &text) { return ranges->contains(addressFromText(text)); };
    return scope;
}

} // namespace

void MainViewController::setWatching(bool watching, std::chrono::milliseconds interval, WatchRule rule,
                                     WatchChoices choices)
{
    requireMainThread("MainViewController::setWatching");
    if (!watching) {
        const bool said = isWatching();
        m_watch.reset();
        m_watchTimer.reset();
        m_watchRunDue = false;
        m_watchRoundRunning = false;
        m_watchRanges.reset();
        m_watchRangeText.clear();
        m_watchRangeProblem.clear();
        if (said && !m_historyStatus.first.isEmpty())
            showHistoryStatus();
        return;
    }
    // A range wider than the interval's pace is walked in parts, one a round.
    m_watchInterval = interval;
    // Neither choice is no watch: the broadcast is watched.
    if (!choices.localNetwork && !choices.range)
        choices.localNetwork = true;
    // The range box is read as it is now, when watching begins or the choices change.
    const bool chosen = !m_watch || choices != m_watchChoices;
    if (chosen) {
        m_watchChoices = choices;
        m_watchRanges.reset();
        m_watchRangeText.clear();
        m_watchRangeProblem.clear();
        if (choices.range)
            takeWatchedRange();
    }
    // The run that the later ones are compared with: the discovery in progress, or a round now.
    // Another rule starts another watch: what the old one judged was judged by other numbers.
    if (m_watch && m_watch->rule().missingAfter != rule.missingAfter) {
        m_watch.reset();
    }
    if (!m_watch) {
        m_watch.emplace(rule);
        if (!isRunning())
            startNextWatchRound();
    }
    // Said at once, unless nothing has been said on the line yet and nothing is wrong.
    if (chosen)
        m_historyStatus.first.isEmpty() && m_watchRangeProblem.isEmpty() ? showStatusTip() : showHistoryStatus();
    if (!m_watchTimer) {
        m_watchTimer.reset(new QTimer);
        QObject::connect(m_watchTimer.get(), &QTimer::timeout, m_watchTimer.get(), [weak = weak_from_this()] {
            if (const auto self = weak.lock())
                self->watchIntervalPassed();
        });
    }
    m_watchTimer->start(interval);
}

void MainViewController::TimerDeleter::operator()(QTimer *timer) const
{
    if (timer->thread() == QThread::currentThread())
        delete timer;
    else
        timer->deleteLater();
}

void MainViewController::takeWatchedRange()
{
    QString expression;
    withControl(m_ipRangeTextBox, [&](TextField &field) { expression = field.stringValue().trimmed(); });
    // As a scan reads the box.
    RangeListResult built = rangeListFromTexts(rangeBoxTexts(expression));
    const QString problem = built.ranges ? QString() : built.error;
    if (problem != m_watchRangeProblem && !problem.isEmpty())
        logLine(lcScan, "The range cannot be watched: %@", problem);
    m_watchRangeProblem = problem;
    markRangeBox(built.ranges.has_value());
    if (!built.ranges)
        return;
    logLine(lcScan, "Watching %@ from now on", expression);
    // The range box shows it at the next start, which watches it again.
    Preferences::standard().setValue(LastScanAddressKey, expression);
    m_watchRanges = std::make_shared<const RangeList>(*std::move(built.ranges));
    m_watchRangeText = expression;
}

void MainViewController::watchIntervalPassed()
{
    // A run in progress is never interrupted: the next one waits for its end.
    if (isRunning())
        m_watchRunDue = true;
    else
        startNextWatchRound();
}

void MainViewController::startNextWatchRound()
{
    if (!m_watch)
        return;
    // A range that could not be expanded is tried again, until it can be.
    if (m_watchChoices.range && !m_watchRanges) {
        takeWatchedRange();
        if (m_watchRanges)
            showHistoryStatus();
    }
    const bool discover = m_watchChoices.localNetwork;
    if (!discover && !m_watchRanges)
        return;
    // The known devices that the round misses are asked before they count as absent.
    const RunScope scope = discover ? RunScope() : rangesScope(m_watchRanges);
    m_watchRoundRunning = startWatchRound(
        WatchRound{.discover = discover, .ranges = m_watchRanges, .known = m_watch->knownDevices(scope), .every = m_watchInterval});
}

bool MainViewController::watchJudges(const FinishedRun &finished) const
{
    return m_watch && (finished.kind == Run::Kind::Discovery || m_watchRoundRunning);
}

void MainViewController::watchRunEnded(const FinishedRun &finished)
{
    const bool judged = watchJudges(finished);
    m_watchRoundRunning = false;
    if (!m_watch)
        return;
    if (judged && !finished.stopped && finished.failure.isEmpty()) {
        m_watch->setWatched(watchedTest());
        const QList<WatchEvent> events =
            m_watch->update(finished.found, finished.askedEveryone, QDateTime::currentDateTimeUtc(), finished.scope);
        logPresence(events, QStringLiteral("window"));
        if (const std::optional<ChangeNotice> notice = changeNotice(events, labelOf()))
            withControl(m_notifier, [&](ChangeNotifier &notifier) {
                notifier.notify(notice->summary, notice->body, notice->plainBody);
            });
    }
    // The line under the table says what the notification said: the devices missing by the
    // watch's rule, since they were last seen, not those the previous run lacked; the new and
    // moved ones stay those since the previous run.
    m_latestChanges.missing = m_watch->missingNow();
    m_missingSince = QDateTime();
    for (const HistoryEntry &entry : std::as_const(m_latestChanges.missing))
        m_missingSince = m_missingSince.isValid() ? std::min(m_missingSince, entry.lastSeen) : entry.lastSeen;
    if (std::exchange(m_watchRunDue, false)) {
        // After this run's end is over, so that its handler has seen it end.
        mainAsync([weak = weak_from_this()] {
            if (const auto self = weak.lock())
                self->startNextWatchRound();
        });
    }
}

QString MainViewController::watchingText() const
{
    if (!m_watch)
        return {};
    QString range = m_watchRangeText;
    // A long list of ranges is named by its start.
    constexpr qsizetype longest = 60;
    if (range.size() > longest)
        range = range.left(longest - 1) + QChar(0x2026);
    if (!m_watchRanges)
        return m_watchChoices.localNetwork ? QStringLiteral("Watching the local network")
                                           : QStringLiteral("Watching nothing until the range can be expanded");
    return m_watchChoices.localNetwork ? QStringLiteral("Watching the local network and %1").arg(range)
                                       : QStringLiteral("Watching %1").arg(range);
}
