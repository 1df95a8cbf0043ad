#include "model/deviceexport.h"

#include "model/devicecolumns.h"
#include "platform/safejson.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

QStringList deviceHeaderTexts()
{
    QStringList header;
    for (const DeviceColumn &column : deviceColumns)
        header.append(column.title.toString());
    header.append(QStringLiteral("Web page"));
    return header;
}

QStringList deviceRowTexts(const DeviceRecord &record)
{
    QStringList row;
    for (int column = 0; column < textColumnCount; ++column)
        row.append(columnText(record, column));
    row.append(openAddress(record).value_or(QString()));
    return row;
}

QString csvRow(const QStringList &fields)
{
    QStringList quoted;
    for (const QString &field : fields)
        quoted.append(csvField(field));
    return quoted.join(u',') + QStringLiteral("\r\n");
}

QJsonObject printedRecord(const DeviceRecord &record, const LabelOf &labelOf)
{
    QJsonObject object = record.object();
    const QString label = labelOf ? labelOf(record) : QString();
    if (label.isEmpty())
        object.remove(DeviceKey::label);
    else
        object.insert(DeviceKey::label, label);
    return object;
}

QByteArray devicesAsJson(const DeviceList &devices, const LabelOf &labelOf)
{
    QJsonArray array;
    for (const Device &device : devices)
        array.append(printedRecord(*device, labelOf));
    return safeJson(QJsonDocument(array));
}

QByteArray devicesAsCsv(const DeviceList &devices, const LabelOf &labelOf)
{
    QString csv = csvRow(deviceHeaderTexts() + QStringList{QStringLiteral("Label")});
    for (const Device &device : devices)
        csv += csvRow(deviceRowTexts(*device) + QStringList{labelOf ? labelOf(*device) : QString()});
    return csv.toUtf8();
}

QString csvField(const QString &value)
{
    QString field = value;
    if (!field.isEmpty() && QStringView(u"=+-@\t\r").contains(field.front()))
        field.prepend(u'\'');
    if (field.contains(u',') || field.contains(u'"') || field.contains(u'\n') || field.contains(u'\r')) {
        field.replace(u'"', QStringLiteral("\"\""));
        field = u'"' + field + u'"';
    }
    return field;
}

QString devicesAsTextTable(const DeviceList &devices, const LabelOf &labelOf)
{
    QList<QStringList> rows{deviceHeaderTexts() + QStringList{QStringLiteral("Label")}};
    for (const Device &device : devices)
        rows.append(deviceRowTexts(*device) + QStringList{labelOf ? labelOf(*device) : QString()});
    return textTable(rows);
}

QString textTable(QList<QStringList> rows)
{
    QList<qsizetype> widths;
    for (QStringList &row : rows) {
        widths.resize(std::max(widths.size(), row.size()), 0);
        for (qsizetype i = 0; i < row.size(); ++i) {
            row[i] = terminalText(row.at(i));
            widths[i] = std::max(widths[i], row.at(i).size());
        }
    }
    QString table;
    for (const QStringList &row : rows) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i)
            line += row.at(i).leftJustified(widths[i] + 2);
        while (line.endsWith(u' '))
            line.chop(1);
        table += line + u'\n';
    }
    return table;
}

QString devicesAsKeyValues(const DeviceList &devices, const LabelOf &labelOf)
{
    QStringList blocks;
    for (const Device &device : devices) {
        QString block;
        const QJsonObject object = printedRecord(*device, labelOf);
        for (auto it = object.begin(); it != object.end(); ++it)
            block += terminalText(it.key()) + QStringLiteral(": ") + terminalText(valueText(it.value())) + u'\n';
        blocks.append(block);
    }
    return blocks.join(u'\n');
}
