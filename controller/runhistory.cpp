// The device history: the controller's part of a run's end that records it, tells who
// observes run ends, and shows what changed.

#include "controller/mainviewcontroller.h"

#include "platform/mainqueue.h"

void MainViewController::recordInHistory(FinishedRun &finished)
{
    requireMainThread("MainViewController::recordInHistory");
    RunRecorder::Recorded recorded = m_recorder.record(finished);
    finished.recordedAt = recorded.at;
    m_historyView.setChanges(std::move(recorded.changes));
}

void MainViewController::showHistoryStatus()
{
    // The labels' notice is said once, on the first line after it happened.
    m_historyView.showLine({.devices = m_devices.size(),
                            .failure = m_latestFailure,
                            .historyProblem = m_recorder.historyProblem(),
                            .labelsNotice = takeLabelsNotice()},
                           m_controls.historyLine, m_controls.statusTip);
}

void MainViewController::setWatchStatus(WatchStatus status)
{
    requireMainThread("MainViewController::setWatchStatus");
    if (m_historyView.setWatchStatus(std::move(status)))
        showHistoryStatus();
    else
        m_historyView.showTip(m_controls.statusTip);
}

void MainViewController::setStatusTip(std::weak_ptr<InfoLine> tip)
{
    m_controls.statusTip = std::move(tip);
    m_historyView.showTip(m_controls.statusTip);
}

std::shared_ptr<const MainViewController::RunEnded> MainViewController::observeRunEnds(RunEnded observer)
{
    auto held = std::make_shared<const RunEnded>(std::move(observer));
    m_runObservers.removeIf([](const std::weak_ptr<const RunEnded> &gone) { return gone.expired(); });
    m_runObservers.append(held);
    return held;
}

void MainViewController::tellRunEnded(const FinishedRun &finished)
{
    // An observer may stop observing, or start observing, while it is told.
    const QList<std::weak_ptr<const RunEnded>> observers = m_runObservers;
    for (const std::weak_ptr<const RunEnded> &weak : observers)
        if (const auto observer = weak.lock())
            (*observer)(finished);
}
