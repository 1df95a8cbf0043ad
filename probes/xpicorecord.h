#pragma once

#include "model/devicerecord.h"

#include <QByteArray>

#include <optional>

// How the gateway data probe turns a gateway's answer to "/getdata.json" into a record.
// Pure, safe from any thread.
//
// A new record of these keys at most: ipAddress and redirectAddress from the probe, and
// from the reply hostname, serialNumber, uptime, tag (mgt's gatewayVer), macAddress and
// the model as deviceType. A devtype equal to the number 57 (57.0 too, the text "57" not)
// takes the name, serial and uptime from mgt and the MAC from macAddress, and is an
// "HB-5"; any other reply takes name and uptime from the top level, the serial as text and
// the MAC from macaddr, and is an "HB-1". Nothing when the body is not a JSON object within the bounds of
// platform/boundedjson.h.
std::optional<DeviceRecord> xpicoRecord(const QByteArray &body, const QString &ipAddress,
                                        const std::optional<QString> &redirectAddress);
