#pragma once

#include "model/devicerecord.h"
#include "probes/probejob.h"

#include <QByteArray>
#include <QString>

#include <optional>

// One probe path, described once: its synchronous operation's name, the path it asks, the
// record builder of its answers, the path a 404 hands the same job over to, and its log
// lines. Its records go to the found list of its kind.
struct ProbePath final {
    const char *operation; // the synchronous probe's name
    QString path;
    std::optional<DeviceRecord> (*record)(const QByteArray &body, const QString &ipAddress,
                                          const std::optional<QString> &redirectAddress);
    std::optional<ProbeKind> notFound; // the path a 404 hands the same job over to
    const char *handedOver;            // logged, with the address, when a 404 hands a job over to it
    const char *found;                 // logged, with the device, for a record merged
    bool foundOnlyNew;                 // whether that line is left out for a device listed already
};

// The description of each kind; a kind without one does not build.
ProbePath probePath(ProbeKind kind);
