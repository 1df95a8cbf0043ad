#include "model/devicelist.h"

#include <QSet>

#include <algorithm>
#include <cmath>

namespace {

bool contains(const QJsonValue &value, const QString &filter)
{
    return !value.isUndefined() && valueText(value).contains(filter, Qt::CaseInsensitive);
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// What a record shows under a key: the user's label under "label", else the record's own.
QJsonValue shownValue(const DeviceRecord &record, const QString &key, const LabelOf &labelOf)
{
    if (key != DeviceKey::label)
        return record.value(key);
    const QString label = labelOf ? labelOf(record) : QString();
    return label.isEmpty() ? QJsonValue(QJsonValue::Undefined) : QJsonValue(label);
}

} // namespace

bool passesSearch(const DeviceRecord &record, const QString &filter, const QString &label)
{
    if (filter.isEmpty())
        return true;
    if (contains(record.value(DeviceKey::hostname), filter)
        || contains(record.value(DeviceKey::serialNumber), filter) || label.contains(filter, Qt::CaseInsensitive))
        return true;
    const QJsonValue mac = record.value(DeviceKey::macAddress);
    return !mac.isUndefined()
           && valueText(mac).remove(u':').contains(filter, Qt::CaseInsensitive);
}

DeviceList searchDevices(const DeviceList &devices, const QString &filter, const LabelOf &labelOf)
{
    DeviceList passed;
    std::copy_if(devices.begin(), devices.end(), std::back_inserter(passed), [&](const Device &device) {
        return passesSearch(*device, filter, labelOf ? labelOf(*device) : QString());
    });
    return passed;
}

int compareNatural(QStringView a, QStringView b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            // Compare the two digit runs by value: without leading zeros, the longer run
            // is the larger number; of equal length, the first differing digit decides.
            while (i < a.size() && a[i] == u'0')
                ++i;
            while (j < b.size() && b[j] == u'0')
                ++j;
            qsizetype endA = i;
            qsizetype endB = j;
            while (endA < a.size() && isDigit(a[endA]))
                ++endA;
            while (endB < b.size() && isDigit(b[endB]))
                ++endB;
            if (endA - i != endB - j)
                return endA - i < endB - j ? -1 : 1;
            if (const int order = a.sliced(i, endA - i).compare(b.sliced(j, endB - j)))
                return order;
            i = endA;
            j = endB;
            continue;
        }
        const char32_t x = a[i].toCaseFolded().unicode();
        const char32_t y = b[j].toCaseFolded().unicode();
        if (x != y)
            return x < y ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    return j < b.size() ? -1 : 0;
}

int compareValues(const QJsonValue &a, const QJsonValue &b)
{
    // Each kind keeps to its own band, so that numbers by value and texts by natural order
    // make one order: a number and a text never meet in a comparison that could contradict
    // another (1.25 < 1.5 by value, but "1.5" < "1.10" < "1.25" as texts).
    const auto band = [](const QJsonValue &value) {
        if (value.isUndefined() || value.isNull())
            return 0;
        if (value.isDouble())
            return std::isnan(value.toDouble()) ? 2 : 1;
        return 3;
    };
    const int bandA = band(a);
    const int bandB = band(b);
    if (bandA != bandB)
        return bandA < bandB ? -1 : 1;
    if (bandA == 1) {
        const double x = a.toDouble();
        const double y = b.toDouble();
        return x < y ? -1 : (y < x ? 1 : 0);
    }
    if (bandA == 3)
        return compareNatural(valueText(a), valueText(b));
    return 0;
}

void sortDevices(DeviceList &devices, const QList<SortDescriptor> &descriptors, const LabelOf &labelOf)
{
    std::stable_sort(devices.begin(), devices.end(), [&](const Device &x, const Device &y) {
        for (const SortDescriptor &descriptor : descriptors) {
            const int order = compareValues(shownValue(*x, descriptor.key, labelOf), shownValue(*y, descriptor.key, labelOf));
            if (order != 0)
                return descriptor.ascending ? order < 0 : order > 0;
        }
        return false;
    });
}

bool containsSameDevice(const DeviceList &devices, const DeviceRecord &record)
{
    return std::any_of(devices.begin(), devices.end(),
                       [&](const Device &listed) { return isSameDevice(*listed, record); });
}

DeviceList keepFoundDevices(const DeviceList &devices, const DeviceList &found)
{
    QSet<QString> identities;
    for (const Device &device : found) {
        if (const std::optional<QString> identity = deviceIdentity(*device))
            identities.insert(*identity);
    }
    DeviceList kept;
    std::copy_if(devices.begin(), devices.end(), std::back_inserter(kept), [&](const Device &device) {
        const std::optional<QString> identity = deviceIdentity(*device);
        return identity && identities.contains(*identity);
    });
    return kept;
}
