#include "controller/historyview.h"

#include "history/historystatustext.h"
#include "model/devicerecord.h"

#include <QStringList>

#include <algorithm>

void HistoryView::setChanges(DeviceChanges changes)
{
    m_changes = std::move(changes);
    m_missingSince = QDateTime();
    m_newDevices.clear();
    m_movedFrom.clear();
    if (m_changes.since.isValid()) {
        m_newDevices = m_changes.addedIdentities();
        m_movedFrom = m_changes.movedFrom();
    }
    takeWatchMissing();
}

bool HistoryView::setWatchStatus(WatchStatus status)
{
    const bool wasWatching = !m_watchStatus.watching.isEmpty();
    // What the watch's rule says of the missing stays until it says otherwise.
    if (!status.missing && !status.watching.isEmpty())
        status.missing = m_watchStatus.missing;
    m_watchStatus = std::move(status);
    takeWatchMissing();
    return !m_line.first.isEmpty() || !m_watchStatus.rangeProblem.isEmpty() || wasWatching;
}

void HistoryView::takeWatchMissing()
{
    if (!m_watchStatus.missing)
        return;
    // The devices missing by the watch's rule, since they were last seen, not those the
    // previous run lacked; the new and moved ones stay those since the previous run.
    m_changes.missing = *m_watchStatus.missing;
    m_missingSince = QDateTime();
    for (const HistoryEntry &entry : std::as_const(m_changes.missing))
        m_missingSince = m_missingSince.isValid() ? std::min(m_missingSince, entry.lastSeen) : entry.lastSeen;
}

void HistoryView::showLine(const LineFacts &facts, const std::weak_ptr<InfoLine> &line,
                           const std::weak_ptr<InfoLine> &tip)
{
    QString text = historyStatusText(facts.devices, m_changes, QDateTime::currentDateTime(), m_missingSince);
    if (!facts.failure.isEmpty())
        text = QStringLiteral("No address could be asked: %1").arg(facts.failure);
    else if (!facts.historyProblem.isEmpty())
        text += QStringLiteral(" \u00b7 the history is not used: %1").arg(facts.historyProblem);
    if (!m_watchStatus.rangeProblem.isEmpty())
        text += (m_watchStatus.rangeAlone ? QStringLiteral(" \u00b7 nothing is watched until the range can be: %1")
                                          : QStringLiteral(" \u00b7 the range cannot be watched: %1"))
                    .arg(m_watchStatus.rangeProblem);
    if (!facts.labelsNotice.isEmpty())
        text += QStringLiteral(" \u00b7 ") + facts.labelsNotice;
    const QString missing = !m_changes.missing.isEmpty() ? QStringLiteral("%1 missing").arg(m_changes.missing.size())
                                                         : QString();
    m_line = {text, missing};
    withControl(line, [&](InfoLine &shown) { shown.setText(text, missing); });
    showTip(tip);
}

void HistoryView::showTip(const std::weak_ptr<InfoLine> &tip) const
{
    QStringList lines{m_watchStatus.watching, m_line.first};
    lines.removeAll(QString());
    withControl(tip, [&](InfoLine &shown) { shown.setText(lines.join(u'\n'), m_line.second); });
}

void HistoryView::markChange(const DeviceRecord &record, TableCell &cell) const
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
