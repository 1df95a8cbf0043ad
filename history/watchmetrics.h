#pragma once

#include "history/devicewatch.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <chrono>

// What the metrics file says of watch's rounds: the last one that asked (a round that could
// ask nobody tells nothing of the devices, so it changes neither their values nor this), and
// how many could not.
struct WatchRounds final {
    QDateTime lastAskedEnd; // invalid: none yet
    std::chrono::milliseconds lastAskedDuration{0};
    quint64 failures = 0;
};

// The metrics file `watch --metrics` rewrites after every round, in the Prometheus text format:
//   devicefinder_device_up{site="...",mac="...",address="...",label="..."} 1   (0 for a missing device)
//   devicefinder_device_last_seen_timestamp_seconds{site=...,mac=...} 1765271643   (0: not known)
//   devicefinder_round_timestamp_seconds{site="..."} 1765271643   (when the last round that asked ended; 0: none)
//   devicefinder_round_duration_seconds{site="..."} 2.512         (how long that round took)
//   devicefinder_round_failures_total{site="..."} 3               (rounds that could ask nobody)
// with a HELP and a TYPE line for each. Label values are escaped as the format says (\\, \",
// \n); a character that could end or hide a line becomes U+FFFD. Pure, any thread.
QByteArray watchMetricsText(const QList<DeviceWatch::DeviceState> &devices, const LabelOf &labelOf,
                            const WatchRounds &rounds, const QString &site);

// Replaces the file at `path` whole with `text` (a temporary file renamed over it), so that a
// reader never sees half of it. Why not, or empty.
QString writeWatchMetrics(const QString &path, const QByteArray &text);
