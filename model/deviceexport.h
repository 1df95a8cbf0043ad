#pragma once

#include "model/devicerecord.h"

#include <QByteArray>
#include <QString>

// The device list as files and command output. Pure, any thread.

// One JSON array of the records, whole, in list order.
QByteArray devicesAsJson(const DeviceList &devices);

// CSV as RFC 4180 writes it (CRLF line ends): a header of the column titles, then one row
// per record with the seven text columns as the table shows them and the "Open" address.
QByteArray devicesAsCsv(const DeviceList &devices);

// One CSV field: quoted when it holds a comma, a quote or a line break, quotes doubled. A
// value that a spreadsheet would run as a formula (one that starts with =, +, -, @, a tab
// or a carriage return) is written with a leading apostrophe, so that it stays text.
QString csvField(const QString &value);

// A table for a terminal: the column titles, then one line per record, each column as wide
// as its widest text.
QString devicesAsTextTable(const DeviceList &devices);

// Every key of each record with its value's text form, one "key: value" a line, sorted by
// key; a blank line between records.
QString devicesAsKeyValues(const DeviceList &devices);
