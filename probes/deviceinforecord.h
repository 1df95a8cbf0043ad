#pragma once

#include "model/devicerecord.h"

#include <QByteArray>
#include <QJsonValue>

#include <optional>

// How the device info probe turns a device's answer to "/info" into a record. Pure
// functions of the bytes, safe from any thread.

// The reply object completed into a record: every member the device sent, with ipAddress
// and redirectAddress from the probe (the latter removed when absent), the uptime as text
// and deviceType from the model-name table. Nothing when the body is not a JSON object
// within the bounds of platform/boundedjson.h.
std::optional<DeviceRecord> deviceInfoRecord(const QByteArray &body, const QString &ipAddress,
                                             const std::optional<QString> &redirectAddress);

// "%dd %02d:%02d:%02d" of the whole seconds in `uptime`, read as a signed 32-bit number:
// a fraction is cut off toward zero, a value beyond the 32-bit range clamps to its end,
// a text counts as its leading decimal integer, true as 1, and anything else as 0.
// Negative parts keep their sign: -61 is "0d 00:-1:-1".
QString uptimeText(const QJsonValue &uptime);
