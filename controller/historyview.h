#pragma once

#include "history/devicehistory.h"
#include "platform/controls.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>

#include <memory>
#include <optional>
#include <utility>

// What the window shows of the device history: the latest changes (with a watch's missing in
// place of the run's), the table's marks of new and moved devices, and the line under the
// table with the tray's tooltip. Main thread.
class HistoryView final {
public:
    // While the window watches, the line and the tooltip say what the watch says: what it
    // watches, why its range cannot be watched, and the devices missing by its rule once a
    // round was judged. An empty status: not watching.
    struct WatchStatus {
        QString watching = {};     // "Watching the local network and 10.2.0.0/24"; empty: not watching
        QString rangeProblem = {}; // why the range cannot be watched, if it cannot
        bool rangeAlone = false;   // the range is all it watches: nothing is watched meanwhile
        std::optional<QList<HistoryEntry>> missing = {};
    };

    // A run's changes against the history (none: it was not judged). With nothing to compare
    // with (no earlier run), nothing is marked.
    void setChanges(DeviceChanges changes);
    const DeviceChanges &changes() const { return m_changes; }

    // Takes the watch's status; true when the line must be said anew, false when the tooltip
    // alone is (nothing said on the line yet and nothing wrong).
    bool setWatchStatus(WatchStatus status);

    // What else the line says beside the devices and the changes.
    struct LineFacts {
        qsizetype devices = 0;
        QString failure;        // why the latest scan could ask nothing
        QString historyProblem; // why the history is not used
        QString labelsNotice;   // said once
    };
    void showLine(const LineFacts &facts, const std::weak_ptr<InfoLine> &line, const std::weak_ptr<InfoLine> &tip);
    // The tray's tooltip: what is watched, then the line's latest text.
    void showTip(const std::weak_ptr<InfoLine> &tip) const;

    // A new device's cell is bold, a moved one's in italics, each with a note.
    void markChange(const DeviceRecord &record, TableCell &cell) const;

private:
    // While watching, the devices missing by the watch's rule take the run's missing.
    void takeWatchMissing();

    DeviceChanges m_changes;
    QDateTime m_missingSince; // while watching: when the first of the watch's missing devices was last seen
    QSet<QString> m_newDevices;          // of the changes, by MAC address
    QHash<QString, QString> m_movedFrom; // the same, with the address a device had before
    WatchStatus m_watchStatus;
    std::pair<QString, QString> m_line; // the line's latest text and link
};
