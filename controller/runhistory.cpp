// The device history: the controller's operations that judge each run's devices against
// the history, record them, and show what changed.

#include "controller/mainviewcontroller.h"

#include "history/historystatustext.h"
#include "history/presencelog.h"
#include "platform/addresstext.h"
#include "platform/log.h"
#include "platform/mainqueue.h"

#include <QFileInfo>

namespace {

// The time the history recorded the run at: a completed run's, else its devices' sighting.
QDateTime recordedTime(const DeviceHistory &history, const DeviceList &found, const QDateTime &now)
{
    for (const Device &device : distinctDevices(found))
        if (const std::optional<HistoryEntry> entry = history.entry(*deviceMac(*device)))
            return entry->lastSeen;
    return history.lastCompletedRun().isValid() ? history.lastCompletedRun() : now;
}

} // namespace

void MainViewController::recordInHistory(const FinishedRun &finished)
{
    requireMainThread("MainViewController::recordInHistory");
    m_latestChanges = DeviceChanges();
    m_missingSince = QDateTime();
    m_newDevices.clear();
    m_movedFrom.clear();
    m_recordedTime = QDateTime();
    // A run that could ask nothing knows nothing of who is there: the history stays as it was.
    if (m_historyFile.isEmpty() || !finished.failure.isEmpty())
        return;
    // Read afresh, so that the runs of another instance count too; of two instances saving
    // at once, the last one's file stays.
    LoadedHistory loaded = DeviceHistory::load(m_historyFile);
    if (!loaded.usable) {
        if (m_historyProblem.isEmpty())
            logLine(lcModel, "The device history is not used, and left as it is: %@", loaded.problem);
        m_historyProblem = loaded.problem;
        return;
    }
    m_historyProblem.clear();
    const RunScope &scope = finished.scope;
    DeviceHistory &history = loaded.history;
    m_latestChanges = history.changes(finished.found, finished.askedEveryone, scope);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (history.record(finished.found, finished.askedEveryone, now, scope)) {
        history.save(m_historyFile);
        m_recordedTime = recordedTime(history, finished.found, now);
        if (history.unconfirmedTime().isValid())
            logLine(lcModel, "The clock reads %@, more than a day after the device history's latest time: until the "
                             "next run's clock agrees, this run is recorded at that latest time", historyTimeText(now));
    } else {
        logLine(lcModel, "The clock reads %@, before the year 2000: this run is not recorded in the device history",
                historyTimeText(now));
    }
    // With nothing to compare with (the first run on this computer), nothing is marked.
    if (m_latestChanges.since.isValid()) {
        m_newDevices = m_latestChanges.addedIdentities();
        m_movedFrom = m_latestChanges.movedFrom();
    }
    if (m_recordedTime.isValid())
        logHistoryChanges(finished);
}

QString MainViewController::presenceLogPath() const
{
    return m_historyFile.isEmpty() ? QString() : QFileInfo(m_historyFile).absolutePath() + QStringLiteral("/events.jsonl");
}

void MainViewController::logHistoryChanges(const FinishedRun &finished) const
{
    if (m_watchLogsRuns && (finished.kind == Run::Kind::Discovery || finished.round))
        return;
    const QString source = m_runSource == RunSource::Window ? QStringLiteral("window")
                           : finished.kind == Run::Kind::Scan ? QStringLiteral("scan")
                                                              : QStringLiteral("discover");
    PresenceLog log(presenceLogPath());
    const auto event = [&](const char *name, const DeviceRecord &record, const QString &address) {
        PresenceEvent line;
        line.time = m_recordedTime;
        line.event = QString::fromLatin1(name);
        line.mac = deviceMac(record).value_or(QString());
        line.address = address;
        line.source = source;
        line.site = m_siteName;
        return line;
    };
    // Back: seen again after the log's last word on it was that it went missing. New: never
    // seen, by the history; a device the history has forgotten that the log still knows has no
    // "new" after its first event.
    const DeviceList found = distinctDevices(finished.found);
    QSet<QString> seen;
    for (const Device &device : found)
        seen.insert(*deviceMac(*device));
    QHash<QString, QString> lastEvent;
    if (!seen.isEmpty())
        log.read([&](PresenceEvent &&logged) { lastEvent.insert(logged.mac, logged.event); }, &seen);
    QList<PresenceEvent> events;
    for (const Device &device : m_latestChanges.added)
        if (!lastEvent.contains(*deviceMac(*device)))
            events.append(event("new", *device, deviceAddress(*device)));
    for (const Device &device : found)
        if (lastEvent.value(*deviceMac(*device)) == u"missing")
            events.append(event("back", *device, deviceAddress(*device)));
    for (const MovedDevice &moved : m_latestChanges.moved) {
        events.append(event("moved", *moved.device, deviceAddress(*moved.device)));
        events.last().from = moved.from;
    }
    for (const HistoryEntry &entry : m_latestChanges.missing)
        events.append(event("missing", *entry.record, entry.lastAddress));
    log.append(events, m_recordedTime);
}

void MainViewController::showHistoryStatus()
{
    QString text = historyStatusText(m_devices.size(), m_latestChanges, QDateTime::currentDateTime(), m_missingSince);
    if (!m_latestFailure.isEmpty())
        text = QStringLiteral("No address could be asked: %1").arg(m_latestFailure);
    else if (!m_historyProblem.isEmpty())
        text += QStringLiteral(" \u00b7 the history is not used: %1").arg(m_historyProblem);
    if (!m_watchStatus.rangeProblem.isEmpty())
        text += (m_watchStatus.rangeAlone ? QStringLiteral(" \u00b7 nothing is watched until the range can be: %1")
                                          : QStringLiteral(" \u00b7 the range cannot be watched: %1"))
                    .arg(m_watchStatus.rangeProblem);
    // Said once, on the first line after it happened.
    if (const QString notice = takeLabelsNotice(); !notice.isEmpty())
        text += QStringLiteral(" \u00b7 ") + notice;
    const QString missing = !m_latestChanges.missing.isEmpty()
                                ? QStringLiteral("%1 missing").arg(m_latestChanges.missing.size())
                                : QString();
    m_historyStatus = {text, missing};
    withControl(m_historyLine, [&](InfoLine &line) { line.setText(text, missing); });
    showStatusTip();
}

void MainViewController::showStatusTip() const
{
    QStringList lines{m_watchStatus.watching, m_historyStatus.first};
    lines.removeAll(QString());
    withControl(m_statusTip, [&](InfoLine &tip) { tip.setText(lines.join(u'\n'), m_historyStatus.second); });
}

void MainViewController::setWatchStatus(WatchStatus status)
{
    requireMainThread("MainViewController::setWatchStatus");
    const bool wasWatching = !m_watchStatus.watching.isEmpty();
    // What the watch's rule says of the missing stays until it says otherwise.
    if (!status.missing && !status.watching.isEmpty())
        status.missing = m_watchStatus.missing;
    m_watchStatus = std::move(status);
    showWatchMissing();
    // Said at once, unless nothing has been said on the line yet and nothing is wrong.
    if (m_historyStatus.first.isEmpty() && m_watchStatus.rangeProblem.isEmpty() && !wasWatching)
        showStatusTip();
    else
        showHistoryStatus();
}

void MainViewController::showWatchMissing()
{
    if (!m_watchStatus.missing)
        return;
    // The devices missing by the watch's rule, since they were last seen, not those the
    // previous run lacked; the new and moved ones stay those since the previous run.
    m_latestChanges.missing = *m_watchStatus.missing;
    m_missingSince = QDateTime();
    for (const HistoryEntry &entry : std::as_const(m_latestChanges.missing))
        m_missingSince = m_missingSince.isValid() ? std::min(m_missingSince, entry.lastSeen) : entry.lastSeen;
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

void MainViewController::setStatusTip(std::weak_ptr<InfoLine> tip)
{
    m_statusTip = std::move(tip);
    showStatusTip();
}

void MainViewController::markChange(const DeviceRecord &record, TableCell &cell) const
{
    const std::optional<QString> identity = deviceMac(record);
    if (!identity)
        return;
    if (m_newDevices.contains(*identity)) {
        cell.bold = true;
        cell.note = QStringLiteral("New: never seen before");
    } else if (const auto from = m_movedFrom.constFind(*identity); from != m_movedFrom.cend()) {
        cell.italic = true;
        cell.note = QStringLiteral("Moved: last seen at %1").arg(*from);
    }
}
