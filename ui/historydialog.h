#pragma once

#include "history/presencelog.h"

#include <QDialog>

// A device's past as the presence log tells it: a strip of its presence over the last 24
// hours and one over the last 7 days, each with its summary in words (what a screen reader
// hears of the strip), and its events as a list, newest first. Read-only. Main thread.
class HistoryDialog final : public QDialog {
    Q_OBJECT

public:
    // `events`: the device's, oldest first; `logStart`: the time of the log's first line
    // (invalid: none); `now`: the strips' right end.
    HistoryDialog(const QString &device, const QList<PresenceEvent> &events, const QDateTime &logStart,
                  const QDateTime &now, QWidget *parent = nullptr);
};

// The device's events in the log at `path`, and the time of its first line, for the dialog.
struct DevicePast final {
    QList<PresenceEvent> events;
    QDateTime logStart;
    QString problem; // the log cannot be read now: why
};
DevicePast devicePast(const QString &path, const QString &mac);
