#pragma once

#include "history/devicehistory.h"

// The differences between two device lists saved earlier, the devices matched by MAC
// address. Pure, any thread.

struct ChangedDevice final {
    Device before;
    Device after;
};

struct DeviceDiff final {
    DeviceList added;             // only in the newer list, in its order
    DeviceList missing;           // only in the older list, in its order
    QList<MovedDevice> moved;     // in both, at another address (ipAddress) in the newer
    QList<ChangedDevice> changed; // in both, with another host name or firmware (tag or sha)

    bool isEmpty() const { return added.isEmpty() && missing.isEmpty() && moved.isEmpty() && changed.isEmpty(); }
};

// Records without a MAC address take no part; of two with one MAC address, the first counts.
// A device that moved and changed is in both lists.
DeviceDiff diffDevices(const DeviceList &before, const DeviceList &after);
