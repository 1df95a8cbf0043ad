// Watching: the controller's operations that repeat the discovery run and tell the user
// what changed.

#include "controller/mainviewcontroller.h"

#include "history/changenotice.h"
#include "platform/mainqueue.h"

void MainViewController::setWatching(bool watching, std::chrono::milliseconds interval, WatchRule rule)
{
    requireMainThread("MainViewController::setWatching");
    if (!watching) {
        m_watch.reset();
        m_watchTimer.reset();
        m_watchRunDue = false;
        return;
    }
    // The run that the later ones are compared with: the discovery in progress, or one now.
    // Another rule starts another watch: what the old one judged was judged by other numbers.
    if (m_watch && m_watch->rule().missingAfter != rule.missingAfter) {
        m_watch.reset();
    }
    if (!m_watch) {
        m_watch.emplace(rule);
        if (!isRunning())
            startWatchDiscovery();
    }
    if (!m_watchTimer) {
        m_watchTimer = std::make_unique<QTimer>();
        QObject::connect(m_watchTimer.get(), &QTimer::timeout, m_watchTimer.get(), [weak = weak_from_this()] {
            if (const auto self = weak.lock())
                self->watchIntervalPassed();
        });
    }
    m_watchTimer->start(interval);
}

void MainViewController::watchIntervalPassed()
{
    // A run in progress is never interrupted: the next one waits for its end.
    if (isRunning())
        m_watchRunDue = true;
    else
        startWatchDiscovery();
}

void MainViewController::startWatchDiscovery()
{
    // The known devices that the broadcasts miss are asked before they count as absent.
    startWatchRound({true, nullptr, m_watch ? m_watch->knownDevices() : QList<std::pair<QString, QString>>()});
}

void MainViewController::watchRunEnded(const FinishedRun &finished)
{
    if (!m_watch)
        return;
    if (finished.kind == Run::Kind::Discovery && !finished.stopped && finished.failure.isEmpty()) {
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
                self->startWatchDiscovery();
        });
    }
}
