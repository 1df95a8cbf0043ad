#include "controller/runrecorder.h"

#include "history/eventkind.h"
#include "history/historystatustext.h"
#include "history/presencelog.h"
#include "platform/addresstext.h"
#include "platform/log.h"

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

RunRecorder::Recorded RunRecorder::record(const FinishedRun &finished)
{
    Recorded recorded;
    // A run that could ask nothing knows nothing of who is there: the history stays as it was.
    if (m_historyFile.isEmpty() || !finished.failure.isEmpty())
        return recorded;
    // Read afresh, so that the runs of another instance count too; of two instances saving
    // at once, the last one's file stays.
    LoadedHistory loaded = DeviceHistory::load(m_historyFile);
    if (!loaded.usable) {
        if (m_historyProblem.isEmpty())
            logLine(lcModel, "The device history is not used, and left as it is: %@", loaded.problem);
        m_historyProblem = loaded.problem;
        return recorded;
    }
    m_historyProblem.clear();
    DeviceHistory &history = loaded.history;
    recorded.changes = history.changes(finished.found, finished.askedEveryone, finished.scope);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (history.record(finished.found, finished.askedEveryone, now, finished.scope)) {
        history.save(m_historyFile);
        recorded.at = recordedTime(history, finished.found, now);
        if (history.unconfirmedTime().isValid())
            logLine(lcModel, "The clock reads %@, more than a day after the device history's latest time: until the "
                             "next run's clock agrees, this run is recorded at that latest time", historyTimeText(now));
    } else {
        logLine(lcModel, "The clock reads %@, before the year 2000: this run is not recorded in the device history",
                historyTimeText(now));
    }
    if (recorded.at.isValid())
        logChanges(finished, recorded);
    return recorded;
}

QString RunRecorder::presenceLogPath() const
{
    return m_historyFile.isEmpty() ? QString() : PresenceLog::besideHistory(m_historyFile);
}

void RunRecorder::logChanges(const FinishedRun &finished, const Recorded &recorded) const
{
    if (m_watchLogsRuns && (finished.kind == Run::Kind::Discovery || finished.round))
        return;
    const QString source = m_runSource == RunSource::Window ? QStringLiteral("window")
                           : finished.kind == Run::Kind::Scan ? QStringLiteral("scan")
                                                              : QStringLiteral("discover");
    PresenceLog log(presenceLogPath());
    const auto event = [&](EventKind kind, const DeviceRecord &record, const QString &address) {
        return PresenceEvent{.time = recorded.at,
                             .event = QString::fromLatin1(watchEventName(kind)),
                             .mac = deviceMac(record).value_or(QString()),
                             .address = address,
                             .source = source,
                             .site = m_siteName};
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
    const DeviceChanges &changes = recorded.changes;
    QList<PresenceEvent> events;
    for (const Device &device : changes.added)
        if (!lastEvent.contains(*deviceMac(*device)))
            events.append(event(EventKind::New, *device, deviceAddress(*device)));
    for (const Device &device : found)
        if (eventKind(lastEvent.value(*deviceMac(*device))) == EventKind::Missing)
            events.append(event(EventKind::Back, *device, deviceAddress(*device)));
    for (const MovedDevice &moved : changes.moved) {
        PresenceEvent line = event(EventKind::Moved, *moved.device, deviceAddress(*moved.device));
        line.from = moved.from;
        events.append(line);
    }
    for (const HistoryEntry &entry : changes.missing)
        events.append(event(EventKind::Missing, *entry.record, entry.lastAddress));
    log.append(events, recorded.at);
}
