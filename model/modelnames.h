#pragma once

#include <QHash>
#include <QString>

#include <memory>
#include <optional>

// Model display names by the four-digit device-type code that opens a serial number.
using ModelNameTable = QHash<QString, QString>;

// Builds the table anew and makes it the process-wide one, dropping the one held before.
// Each controller initialisation calls it.
void buildModelNames();

// The process-wide table: empty before the first controller is made. Any thread.
std::shared_ptr<const ModelNameTable> MODEL_NAMES();

// The model name for a code, matching the whole code exactly; nothing when the code is
// not in the table.
std::optional<QString> modelName(const QString &code);
