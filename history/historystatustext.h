#pragma once

#include "history/devicehistory.h"

#include <QDateTime>
#include <QString>

// The status line under the device table: "12 devices · 2 new · 1 moved · 1 missing since
// 8 Dec 09:14", each change left out when there is none of it, "12 devices · no changes
// since 8 Dec 09:14" when there are none, and only "12 devices" with nothing to compare
// with (no completed run in the history yet, or no history). `now` says which year is this
// one. While watching, the missing devices are the watch's, since `missingSince` (when the
// first of them was last seen): their count has that time of its own, and the new and moved
// counts the previous run's: "12 devices · 2 new since 09:14 · 1 missing since 09:58".
QString historyStatusText(qsizetype deviceCount, const DeviceChanges &changes, const QDateTime &now,
                          const QDateTime &missingSince = {});
