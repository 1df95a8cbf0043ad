// The device history: the controller's operations that judge each run's devices against
// the history, record them, and show what changed.

#include "controller/mainviewcontroller.h"

#include "history/historystatustext.h"
#include "platform/mainqueue.h"

void MainViewController::recordInHistory(bool stopped)
{
    requireMainThread("MainViewController::recordInHistory");
    m_latestChanges = DeviceChanges();
    m_newDevices.clear();
    m_movedFrom.clear();
    if (m_historyFile.isEmpty())
        return;
    // Read afresh, so that the runs of another instance count too; of two instances saving
    // at once, the last one's file stays.
    DeviceHistory history = DeviceHistory::load(m_historyFile);
    const DeviceList found = m_vudiduDevices + m_xpicoDevices;
    m_latestChanges = history.changes(found, !stopped);
    history.record(found, !stopped, QDateTime::currentDateTimeUtc());
    history.save(m_historyFile);
    // With nothing to compare with (the first run on this computer), nothing is marked.
    if (m_latestChanges.since.isValid()) {
        m_newDevices = m_latestChanges.addedIdentities();
        m_movedFrom = m_latestChanges.movedFrom();
    }
}

void MainViewController::showHistoryStatus() const
{
    const QString text = historyStatusText(m_devices.size(), m_latestChanges, QDateTime::currentDateTime());
    const QString missing = m_latestChanges.since.isValid() && !m_latestChanges.missing.isEmpty()
                                ? QStringLiteral("%1 missing").arg(m_latestChanges.missing.size())
                                : QString();
    withControl(m_historyLine, [&](InfoLine &line) { line.setText(text, missing); });
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
