// Bytes as the device history file, the labels file or a device list given to `diff`:
// files the tool keeps or is handed are untrusted input.
#include "history/changesexport.h"
#include "history/devicelistfile.h"
#include "history/devicewatch.h"
#include "labels/labelsformat.h"
#include "tests/fuzz/require.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QDateTime now = QDateTime::fromSecsSinceEpoch(1'796'000'000).toUTC();
    static const QRegularExpression unshowable(QStringLiteral("[\\p{Cc}\\p{Cf}\\p{Co}\\x{2028}\\x{2029}]"));

    const HistoryReading reading = DeviceHistory::read(bytes);
    const std::optional<DeviceHistory> &history = reading.history;
    require(history.has_value() == reading.problem.isEmpty(), "a history, or the reason there is none");
    require(history.has_value() == (reading.kind == HistoryReading::Kind::History), "a history is read as one");
    if (history) {
        const HistoryReading reread = DeviceHistory::read(history->toJson());
        require(reread.history && reread.history->toJson() == history->toJson(), "a history reads back as it was written");
    }

    const LabelsContent labels = labelsFromJson(bytes);
    require(labels.problem.isEmpty() == (labels.status == LabelsContent::Status::Read), "labels, or the reason");
    const LabelsContent reread = labelsFromJson(labelsToJson(labels.labels, labels.unwatched));
    require(reread.labels == labels.labels && reread.unwatched == labels.unwatched, "labels read back as written");

    const DeviceListFile list = parseDeviceList(bytes);
    require(list.problem.isEmpty() || list.devices.isEmpty(), "a list, or the reason there is none");
    require(!history || list.problem.isEmpty(), "diff reads a history");
    QSet<QString> macs;
    for (const Device &device : list.devices) {
        const std::optional<QString> mac = deviceIdentity(*device);
        require(mac && !macs.contains(*mac), "each device once, by its MAC address");
        macs.insert(*mac);
    }

    require(diffDevices(list.devices, list.devices).isEmpty(), "a list does not differ from itself");
    const DeviceDiff diff = diffDevices({}, list.devices);
    require(QJsonDocument::fromJson(diffAsJson(diff)).isObject(), "the diff is one JSON object");
    require(!diffAsTextTable(diff).remove(u'\n').contains(unshowable), "a table for a terminal holds no control character");
    DeviceHistory judged = history.value_or(DeviceHistory());
    require(QJsonDocument::fromJson(changesAsJson(judged.changes(list.devices, true))).isObject(), "the changes are one object");
    judged.record(list.devices, true, now);
    require(DeviceHistory::read(judged.toJson()).history.has_value(), "a recorded history is one a load accepts");

    DeviceWatch watch = history ? DeviceWatch(*history) : DeviceWatch();
    for (const DeviceList &run : {list.devices, DeviceList(), DeviceList(), list.devices}) {
        for (const WatchEvent &event : watch.update(run)) {
            const QByteArray line = watchEventLine(event, now);
            require(line.count('\n') == 1 && QJsonDocument::fromJson(line).isObject(), "an event is one line of JSON");
        }
    }
    return 0;
}
