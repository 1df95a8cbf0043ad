#pragma once

#include "model/devicerecord.h"

#include <QByteArray>
#include <QString>

// A device list saved earlier, as `diff` reads it: the JSON array that `--json` prints and
// the window exports, or the device history file (the last records of the devices its last
// completed discovery saw); "-" reads standard input. The file is
// untrusted: it is bounded as boundedjson.h says, and every record is kept as data. Pure,
// any thread.
struct DeviceListFile final {
    DeviceList devices;       // the first record of each MAC address, in the file's order
    qsizetype withoutMac = 0; // records skipped for having no MAC address text
    qsizetype repeated = 0;   // records skipped for a MAC address read before
    QString problem;          // why the file cannot be read; empty when it was
};

DeviceListFile parseDeviceList(const QByteArray &bytes);
DeviceListFile readDeviceListFile(const QString &path);
