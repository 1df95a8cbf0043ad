#pragma once

#include "tools/devicesim/deviceprofile.h"

#include <QList>
#include <QString>

#include <optional>

// Reads a device file (format in README.md). On failure returns nothing and sets `error`
// to one line naming the device and the member at fault.
std::optional<QList<DeviceProfile>> parseDeviceFile(const QByteArray &json, QString *error);
std::optional<QList<DeviceProfile>> loadDeviceFile(const QString &path, QString *error);
