#include "history/devicelistfile.h"

#include "history/devicehistory.h"
#include "platform/boundedjson.h"

#include <QJsonArray>

#include <algorithm>

namespace {

DeviceListFile fromRecords(const DeviceList &records)
{
    DeviceListFile list;
    list.devices = distinctDevices(records);
    list.withoutMac = std::count_if(records.cbegin(), records.cend(),
                                    [](const Device &record) { return !deviceMac(*record); });
    list.repeated = records.size() - list.withoutMac - list.devices.size();
    return list;
}

DeviceListFile failure(const QString &problem)
{
    DeviceListFile list;
    list.problem = problem;
    return list;
}

} // namespace

DeviceListFile parseDeviceList(const QByteArray &bytes)
{
    ParsedJson parsed = parseBoundedJson(bytes);
    if (!parsed.problem.isEmpty())
        return failure(parsed.problem);
    DeviceList records;
    if (parsed.document.isObject()) {
        parsed.document = QJsonDocument(); // the history reads the bytes itself
        const HistoryReading reading = DeviceHistory::read(bytes);
        if (!reading.history)
            return failure(
                QStringLiteral("not a device list (a JSON array of records) or device history: %1").arg(reading.problem));
        // A history stands for what its last completed discovery saw, not for every device
        // it still remembers.
        for (const QString &mac : reading.history->lastDiscoveryDevices())
            records.append(reading.history->entry(mac)->record);
        return fromRecords(records);
    }
    const QJsonArray array = parsed.document.array();
    for (qsizetype i = 0; i < array.size(); ++i) {
        if (!array.at(i).isObject())
            return failure(QStringLiteral("not a device list: entry %1 is not a JSON object").arg(i + 1));
        records.append(std::make_shared<const DeviceRecord>(array.at(i).toObject()));
    }
    return fromRecords(records);
}

DeviceListFile readDeviceListFile(const QString &path)
{
    const FileBytes file = path == u"-" ? readBoundedStandardInput() : readBoundedFile(path, false);
    if (!file.problem.isEmpty())
        return failure(file.problem);
    return parseDeviceList(file.bytes);
}
