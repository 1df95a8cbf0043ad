#pragma once

#include "app/commandline.h"

#include <QDateTime>
#include <QString>

#include <cstdio>
#include <optional>

// A TIME of `log --since`: ISO 8601 (local time when it names no zone: "2026-12-08T09:00",
// "2026-12-08"), or a span back from `now`, a whole number with s, m, h, d or w ("90s",
// "24h", "2w"). Nothing for any other text.
std::optional<QDateTime> sinceTime(const QString &text, const QDateTime &now);

// `devicefinder log [MAC] [--since TIME] [--json | --csv]`: the presence log's events at
// `logPath`, oldest first, of the device with MAC address `command.argument` (any spelling
// `label` takes; empty for all) since `command.since`. A table or CSV with the columns Time
// (local), Event, MAC address, Address, Label and Source; JSON: one array of the lines'
// objects, each with the device's "label" added when it has one (labels from `labelsPath`).
// Exit status: 0, also when nothing matches; 1 when the log cannot be read or the output
// not written; 2 for a malformed MAC or TIME, with one line on `err`.
int runLogCommand(const Command &command, const QString &logPath, const QString &labelsPath, std::FILE *out,
                  std::FILE *err);
