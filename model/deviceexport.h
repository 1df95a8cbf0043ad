#pragma once

#include "model/devicerecord.h"
#include "platform/safetext.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// The device list as files and command output, each record with the user's label. Pure,
// any thread.

// A record as the tool prints it: its members, and "label" the user's label, absent when
// the device has none (a member of that name that the device itself sent gives way).
QJsonObject printedRecord(const DeviceRecord &record, const LabelOf &labelOf);

// One JSON array of the records, whole, in list order.
QByteArray devicesAsJson(const DeviceList &devices, const LabelOf &labelOf = {});

// CSV as RFC 4180 writes it (CRLF line ends): a header of the column titles, then one row
// per record with the text columns as the table shows them, the "Open" address and
// the label, last so that a reader of the columns before it finds them where they were.
QByteArray devicesAsCsv(const DeviceList &devices, const LabelOf &labelOf = {});

// One CSV field: quoted when it holds a comma, a quote or a line break, quotes doubled. A
// value that a spreadsheet would run as a formula (one that starts with =, +, -, @, a tab
// or a carriage return) is written with a leading apostrophe, so that it stays text.
QString csvField(const QString &value);

// A table for a terminal with the same columns: the column titles, then one line per
// record, each column as wide as its widest text.
QString devicesAsTextTable(const DeviceList &devices, const LabelOf &labelOf = {});

// The column titles and "Web page"; a record's texts under them, as the table shows them.
QStringList deviceHeaderTexts();
QStringList deviceRowTexts(const DeviceRecord &record);

// One CSV line of the fields, each as csvField writes it, ended by CRLF.
QString csvRow(const QStringList &fields);

// Rows as a table for a terminal: each cell as terminalText shows it, each column as wide as
// its widest cell and two spaces apart, no blanks at a line's end.
QString textTable(QList<QStringList> rows);

// Every key of each printed record with its value's text form, one "key: value" a line,
// sorted by key; a blank line between records.
QString devicesAsKeyValues(const DeviceList &devices, const LabelOf &labelOf = {});
