#pragma once

#include "history/devicediff.h"
#include "history/devicehistory.h"

#include <QByteArray>
#include <QString>

// What changed, as command output: the changes of a run against the history (`--changes`)
// and the differences of two saved lists (`diff`), each record with the user's label (see
// printedRecord). Pure, any thread.

// One JSON object: {"new": [records], "missing": [records], "moved": [{"from": "ADDR",
// "record": record}], "since": "2026-12-08T09:14:03Z"}, "since" null with no completed run
// before. A missing device is shown by its last record.
QByteArray changesAsJson(const DeviceChanges &changes, const LabelOf &labelOf = {});

// Rows of a "Change" column (new, missing or moved), the device columns as devicesAsCsv and
// devicesAsTextTable write them, "Before" (a moved device's previous address) and "Label".
QByteArray changesAsCsv(const DeviceChanges &changes, const LabelOf &labelOf = {});
QString changesAsTextTable(const DeviceChanges &changes, const LabelOf &labelOf = {});

// One JSON object: "new", "missing" and "moved" as above, and "changed": [{"before": record,
// "record": record}].
QByteArray diffAsJson(const DeviceDiff &diff, const LabelOf &labelOf = {});

// The table above with "changed" rows too, whose "Before" says the host name and firmware
// they had.
QString diffAsTextTable(const DeviceDiff &diff, const LabelOf &labelOf = {});
