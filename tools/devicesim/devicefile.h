#pragma once

#include "tools/devicesim/deviceprofile.h"

#include <QList>
#include <QString>

#include <optional>

// What a device file describes: its devices and its address ranges.
struct DeviceFile final {
    QList<DeviceProfile> devices;
    QList<RangeProfile> ranges;
};

// Reads a device file (format in README.md). On failure returns nothing and sets `error`
// to one line naming the device or range and the member at fault.
std::optional<DeviceFile> parseDeviceFile(const QByteArray &json, QString *error);
std::optional<DeviceFile> loadDeviceFile(const QString &path, QString *error);

// The addresses a range entry names: "A.B.C.D/N" (N from 16 to 32, any address inside the
// block) or "A.B.C.D-E" on the last octet. Nothing for another text.
std::optional<std::pair<quint32, quint32>> parseAddressRange(const QString &text);
