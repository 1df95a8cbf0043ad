#include "history/devicediff.h"

DeviceDiff diffDevices(const DeviceList &before, const DeviceList &after)
{
    DeviceDiff diff;
    QHash<QString, Device> older;
    for (const Device &device : distinctDevices(before))
        older.insert(*deviceMac(*device), device);
    QSet<QString> inNewer;
    for (const Device &device : distinctDevices(after)) {
        const QString mac = *deviceMac(*device);
        inNewer.insert(mac);
        const Device old = older.value(mac);
        if (!old) {
            diff.added.append(device);
            continue;
        }
        if (hasMoved(deviceAddress(*old), deviceAddress(*device)))
            diff.moved.append({deviceAddress(*old), device});
        for (const QStringView key : {DeviceKey::hostname, DeviceKey::tag, DeviceKey::sha}) {
            if (old->value(key) != device->value(key)) {
                diff.changed.append({old, device});
                break;
            }
        }
    }
    for (const Device &device : distinctDevices(before)) {
        if (!inNewer.contains(*deviceMac(*device)))
            diff.missing.append(device);
    }
    return diff;
}
