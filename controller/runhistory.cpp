// The device history: the controller's operations that judge each run's devices against
// the history, record them, and show what changed.

#include "controller/mainviewcontroller.h"

#include "history/historystatustext.h"
#include "platform/addresstext.h"
#include "platform/log.h"
#include "platform/mainqueue.h"

void MainViewController::recordInHistory(const FinishedRun &finished)
{
    requireMainThread("MainViewController::recordInHistory");
    m_latestChanges = DeviceChanges();
    m_missingSince = QDateTime();
    m_newDevices.clear();
    m_movedFrom.clear();
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
}

void MainViewController::showHistoryStatus()
{
    QString text = historyStatusText(m_devices.size(), m_latestChanges, QDateTime::currentDateTime(), m_missingSince);
    if (!m_latestFailure.isEmpty())
        text = QStringLiteral("No address could be asked: %1").arg(m_latestFailure);
    else if (!m_historyProblem.isEmpty())
        text += QStringLiteral(" \u00b7 the history is not used: %1").arg(m_historyProblem);
    // Said once, on the first line after it happened.
    if (const QString notice = takeLabelsNotice(); !notice.isEmpty())
        text += QStringLiteral(" \u00b7 ") + notice;
    const QString missing = !m_latestChanges.missing.isEmpty()
                                ? QStringLiteral("%1 missing").arg(m_latestChanges.missing.size())
                                : QString();
    m_historyStatus = {text, missing};
    withControl(m_historyLine, [&](InfoLine &line) { line.setText(text, missing); });
    withControl(m_statusTip, [&](InfoLine &tip) { tip.setText(text, missing); });
}

void MainViewController::setStatusTip(std::weak_ptr<InfoLine> tip)
{
    m_statusTip = std::move(tip);
    withControl(m_statusTip, [&](InfoLine &line) { line.setText(m_historyStatus.first, m_historyStatus.second); });
}

void MainViewController::markChange(const DeviceRecord &record, TableCell &cell) const
{
    const std::optional<QString> identity = deviceIdentity(record);
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
