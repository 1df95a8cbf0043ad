#pragma once

#include "tools/devicesim/deviceprofile.h"

#include <QByteArray>
#include <QList>

// The two discovery requests, byte for byte.
QByteArray infoRequest();
QByteArray gatewayRequest();

// Whether a device of this kind answers `datagram`: only its own request, exactly.
bool isRequestFor(const DeviceProfile &device, const QByteArray &datagram);

// The datagrams the device sends back to its request, in order (none for "none").
QList<QByteArray> discoveryReplies(const DeviceProfile &device);
