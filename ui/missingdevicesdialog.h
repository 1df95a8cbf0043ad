#pragma once

#include "history/devicehistory.h"

#include <QDialog>

#include <functional>

// A short, read-only list of the devices that the previous completed run saw and the latest
// one did not: host name, label, last address and when last seen, and an "Open" per row that opens
// "http://" and the last address in the browser (only for an IPv4 address: the history file
// is not trusted to name a web page). Texts from devices are shown as plain text, control
// characters escaped. A row's menu copies the device's last address or MAC address, and opens
// its history through `showHistory`. Main thread.
class MissingDevicesDialog final : public QDialog {
    Q_OBJECT

public:
    // `now` says which year is this one, for the times shown.
    using ShowHistory = std::function<void(const QString &mac, const QString &name)>;
    MissingDevicesDialog(const QList<HistoryEntry> &missing, const QDateTime &now, const LabelOf &labelOf = {},
                         QWidget *parent = nullptr, ShowHistory showHistory = {});
};
