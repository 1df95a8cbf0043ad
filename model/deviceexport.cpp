#include "model/deviceexport.h"

#include "model/devicecolumns.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

namespace {

QStringList headerTexts()
{
    QStringList header;
    for (const DeviceColumn &column : deviceColumns)
        header.append(column.title.toString());
    header.append(QStringLiteral("Web page"));
    return header;
}

QStringList rowTexts(const DeviceRecord &record)
{
    QStringList row;
    for (int column = 0; column < openColumn; ++column)
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

// A device chooses its texts: on a terminal, none of them may move the cursor or change
// colours.
QString forTerminal(QString text)
{
    std::replace_if(text.begin(), text.end(), [](QChar c) { return c.category() == QChar::Other_Control; }, u'?');
    return text;
}

} // namespace

QByteArray devicesAsJson(const DeviceList &devices)
{
    QJsonArray array;
    for (const Device &device : devices)
        array.append(device->object());
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

QByteArray devicesAsCsv(const DeviceList &devices)
{
    QString csv = csvRow(headerTexts());
    for (const Device &device : devices)
        csv += csvRow(rowTexts(*device));
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

QString devicesAsTextTable(const DeviceList &devices)
{
    QList<QStringList> rows{headerTexts()};
    for (const Device &device : devices)
        rows.append(rowTexts(*device));
    QList<qsizetype> widths(rows.first().size(), 0);
    for (QStringList &row : rows) {
        for (qsizetype i = 0; i < row.size(); ++i) {
            row[i] = forTerminal(row.at(i));
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

QString devicesAsKeyValues(const DeviceList &devices)
{
    QStringList blocks;
    for (const Device &device : devices) {
        QString block;
        const QJsonObject &object = device->object();
        for (auto it = object.begin(); it != object.end(); ++it)
            block += forTerminal(it.key()) + QStringLiteral(": ") + forTerminal(valueText(it.value())) + u'\n';
        blocks.append(block);
    }
    return blocks.join(u'\n');
}
