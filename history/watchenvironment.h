#pragma once

#include "history/devicewatch.h"

#include <QProcessEnvironment>
#include <QString>

// The environment of the user's program for one watch event: `base` (the tool's own)
// without any DF_ variable it had, plus DF_EVENT (new, missing, moved, back, flapping, steady), DF_MAC,
// DF_ADDRESS (for a missing device the last one seen), DF_FROM (moved only), DF_PRESENT (steady only: yes or no), DF_HOSTNAME
// and DF_LABEL, each only when it has a value. Each value is escaped as the terminal output
// escapes a device's texts (terminalText): no control character, line or paragraph
// separator or direction mark reaches the program. Pure, any thread.
QProcessEnvironment watchEventEnvironment(const WatchEvent &event, const QString &label,
                                          QProcessEnvironment base = QProcessEnvironment::systemEnvironment());
