#pragma once

#include "model/devicerecord.h"

#include <QString>
#include <QStringView>

#include <array>

// The text columns of the device table, in their order, as the window, the command
// line and the exports show them. In the window the user's label follows them, then the
// "Open" button, which leads to "http://" followed by the record's redirectAddress.
struct DeviceColumn final {
    QStringView key;   // the record key the column shows
    QStringView title; // what a user reads in the header
};

inline constexpr std::array<DeviceColumn, 7> deviceColumns{{
    {DeviceKey::hostname, u"Host name"},
    {DeviceKey::serialNumber, u"Serial number"},
    {DeviceKey::ipAddress, u"IP address"},
    {DeviceKey::macAddress, u"MAC address"},
    {DeviceKey::tag, u"Firmware"},
    {DeviceKey::deviceType, u"Model"},
    {DeviceKey::uptime, u"Uptime"},
}};

inline constexpr int hostnameColumn = 0;
inline constexpr int textColumnCount = int(deviceColumns.size());
// The window's table.
inline constexpr int labelColumn = textColumnCount;
inline constexpr int openColumn = labelColumn + 1;

// What a cell of a text column shows: the value's text form (a number in decimal, a
// missing value as the empty text); in the firmware column, a tag of "[none]" gives way
// to the first 7 characters of sha (all of a shorter one).
QString columnText(const DeviceRecord &record, int column);

// The address the row's "Open" button opens; nothing when the record has no
// redirectAddress.
std::optional<QString> openAddress(const DeviceRecord &record);
