#pragma once

#include "model/devicerecord.h"
#include "platform/controls.h"

// The rules of the device list, as pure functions over lists of shared records.

// A record passes when the filter is empty, or when its hostname, its serialNumber, its
// macAddress without the ":" or the user's label contains the filter text, ignoring case. A
// number counts as its decimal text; a missing value contains nothing.
bool passesSearch(const DeviceRecord &record, const QString &filter, const QString &label = {});

// The records that pass the search, in their order.
DeviceList searchDevices(const DeviceList &devices, const QString &filter, const LabelOf &labelOf = {});

// Sorts by the descriptors, the first deciding and each later one breaking ties; the key
// "label" sorts by the user's labels. Records that compare equal keep their order.
void sortDevices(DeviceList &devices, const QList<SortDescriptor> &descriptors, const LabelOf &labelOf = {});

// A strict weak order for any mix of values: missing values first, then numbers by value,
// then every other value (text, boolean, object, array) by its text form, case-insensitive,
// digit runs as numbers. Negative, zero or positive, as for a < b.
int compareValues(const QJsonValue &a, const QJsonValue &b);
int compareNatural(QStringView a, QStringView b);

// Whether the list holds the same device as the record.
bool containsSameDevice(const DeviceList &devices, const DeviceRecord &record);

// The records of the list, in order, that are the same device as a record found.
DeviceList keepFoundDevices(const DeviceList &devices, const DeviceList &found);
