#pragma once

#include "model/devicelist.h"
#include "platform/result.h"

#include <QString>

#include <optional>

// Saving the table's rows to a file. Any thread.

enum class ExportFormat { Csv, Json };

// JSON for a name ending in ".json", CSV for any other.
ExportFormat exportFormatFor(const QString &path);

// Writes the rows, with their labels, in the format the name asks for, whole or not at all: a
// file that was there stays as it was when the write fails.
Result<> writeExportFile(const QString &path, const DeviceList &devices, const LabelOf &labelOf = {});
