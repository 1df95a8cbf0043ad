#include "history/changesexport.h"

#include "model/devicecolumns.h"
#include "model/deviceexport.h"
#include "platform/safejson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

struct ChangeRow final {
    QString change;
    Device device;
    QString before;
};

QList<ChangeRow> rowsOf(const DeviceList &added, const DeviceList &missing, const QList<MovedDevice> &moved)
{
    QList<ChangeRow> rows;
    for (const Device &device : added)
        rows.append({QStringLiteral("new"), device, {}});
    for (const Device &device : missing)
        rows.append({QStringLiteral("missing"), device, {}});
    for (const MovedDevice &device : moved)
        rows.append({QStringLiteral("moved"), device.device, device.from});
    return rows;
}

DeviceList lastRecords(const QList<HistoryEntry> &entries)
{
    DeviceList records;
    for (const HistoryEntry &entry : entries)
        records.append(entry.record);
    return records;
}

QList<QStringList> tableRows(const QList<ChangeRow> &rows, const LabelOf &labelOf)
{
    QList<QStringList> table{QStringList{QStringLiteral("Change")} + deviceHeaderTexts()
                             + QStringList{QStringLiteral("Before"), QStringLiteral("Label")}};
    for (const ChangeRow &row : rows)
        table.append(QStringList{row.change} + deviceRowTexts(*row.device)
                     + QStringList{row.before, labelOf ? labelOf(*row.device) : QString()});
    return table;
}

QJsonArray recordsJson(const DeviceList &devices, const LabelOf &labelOf)
{
    QJsonArray array;
    for (const Device &device : devices)
        array.append(printedRecord(*device, labelOf));
    return array;
}

QJsonObject changesObject(const DeviceList &added, const DeviceList &missing, const QList<MovedDevice> &moved,
                          const LabelOf &labelOf)
{
    QJsonArray movedJson;
    for (const MovedDevice &device : moved)
        movedJson.append(QJsonObject{{QStringLiteral("from"), device.from},
                                     {QStringLiteral("record"), printedRecord(*device.device, labelOf)}});
    return {{QStringLiteral("new"), recordsJson(added, labelOf)},
            {QStringLiteral("missing"), recordsJson(missing, labelOf)},
            {QStringLiteral("moved"), movedJson}};
}

// "Host name: lobby-1, Firmware: 2.1.0": what a changed device showed before, where it differs.
QString changedBefore(const ChangedDevice &device)
{
    QStringList parts;
    for (int column = 0; column < textColumnCount; ++column) {
        const QStringView key = deviceColumns[column].key;
        const bool firmware = key == DeviceKey::tag;
        const bool differs = device.before->value(key) != device.after->value(key)
                             || (firmware && device.before->value(DeviceKey::sha) != device.after->value(DeviceKey::sha));
        if (differs && (key == DeviceKey::hostname || firmware))
            parts.append(deviceColumns[column].title.toString() + QStringLiteral(": ") + columnText(*device.before, column));
    }
    return parts.join(QStringLiteral(", "));
}

} // namespace

QByteArray changesAsJson(const DeviceChanges &changes, const LabelOf &labelOf)
{
    QJsonObject object = changesObject(changes.added, lastRecords(changes.missing), changes.moved, labelOf);
    object.insert(QStringLiteral("since"), changes.since.isValid() ? QJsonValue(historyTimeText(changes.since))
                                                                   : QJsonValue(QJsonValue::Null));
    return safeJson(QJsonDocument(object));
}

QByteArray changesAsCsv(const DeviceChanges &changes, const LabelOf &labelOf)
{
    QString csv;
    for (const QStringList &row : tableRows(rowsOf(changes.added, lastRecords(changes.missing), changes.moved), labelOf))
        csv += csvRow(row);
    return csv.toUtf8();
}

QString changesAsTextTable(const DeviceChanges &changes, const LabelOf &labelOf)
{
    return textTable(tableRows(rowsOf(changes.added, lastRecords(changes.missing), changes.moved), labelOf));
}

QByteArray diffAsJson(const DeviceDiff &diff, const LabelOf &labelOf)
{
    QJsonObject object = changesObject(diff.added, diff.missing, diff.moved, labelOf);
    QJsonArray changed;
    for (const ChangedDevice &device : diff.changed)
        changed.append(QJsonObject{{QStringLiteral("before"), printedRecord(*device.before, labelOf)},
                                   {QStringLiteral("record"), printedRecord(*device.after, labelOf)}});
    object.insert(QStringLiteral("changed"), changed);
    return safeJson(QJsonDocument(object));
}

QString diffAsTextTable(const DeviceDiff &diff, const LabelOf &labelOf)
{
    QList<ChangeRow> rows = rowsOf(diff.added, diff.missing, diff.moved);
    for (const ChangedDevice &device : diff.changed)
        rows.append({QStringLiteral("changed"), device.after, changedBefore(device)});
    return textTable(tableRows(rows, labelOf));
}
