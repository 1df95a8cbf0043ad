#pragma once

#include "history/devicewatch.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <chrono>

// The metrics file `watch --metrics` rewrites after every run, in the Prometheus text format:
//   devicefinder_device_up{mac="...",address="...",label="..."} 1   (0 for a missing device)
//   devicefinder_round_timestamp_seconds 1765271643   (when the run ended)
//   devicefinder_round_duration_seconds 2.512
// with a HELP and a TYPE line for each. Label values are escaped as the format says (\\, \",
// \n); a character that could end or hide a line becomes U+FFFD. Pure, any thread.
QByteArray watchMetricsText(const QList<DeviceWatch::DeviceState> &devices, const LabelOf &labelOf,
                            const QDateTime &roundEnd, std::chrono::milliseconds duration);

// Replaces the file at `path` whole with `text` (a temporary file renamed over it), so that a
// reader never sees half of it. Why not, or empty.
QString writeWatchMetrics(const QString &path, const QByteArray &text);
