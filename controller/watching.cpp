// Watching: the controller's operations that repeat the discovery run and tell the user
// what changed.

#include "controller/mainviewcontroller.h"

#include "history/changenotice.h"
#include "platform/mainqueue.h"

void MainViewController::setWatching(bool watching, std::chrono::milliseconds interval)
{
    requireMainThread("MainViewController::setWatching");
    if (!watching) {
        m_watch.reset();
        m_watchTimer.reset();
        m_watchRunDue = false;
        return;
    }
    // The run that the later ones are compared with: the discovery in progress, or one now.
    if (!m_watch) {
        m_watch.emplace();
        if (!isRunning())
            startDiscovery();
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
        startDiscovery();
}

void MainViewController::watchRunEnded(const FinishedRun &finished)
{
    if (!m_watch)
        return;
    if (finished.kind == Run::Kind::Discovery && !finished.stopped && finished.failure.isEmpty()) {
        const QList<WatchEvent> events = m_watch->update(finished.found, finished.askedEveryone);
        if (const std::optional<ChangeNotice> notice = changeNotice(events, labelOf()))
            withControl(m_notifier, [&](ChangeNotifier &notifier) {
                notifier.notify(notice->summary, notice->body, notice->plainBody);
            });
    }
    if (std::exchange(m_watchRunDue, false)) {
        // After this run's end is over, so that its handler has seen it end.
        mainAsync([weak = weak_from_this()] {
            if (const auto self = weak.lock())
                self->startDiscovery();
        });
    }
}
