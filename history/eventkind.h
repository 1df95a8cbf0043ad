#pragma once

#include <QStringView>

#include <optional>

// The changes a run or a watch tells of a device.
enum class EventKind { New, Missing, Moved, Back, Flapping, Steady };

// "new", "missing", "moved", "back", "flapping" or "steady": the one spelling of each, as the
// presence log, the JSON lines and a program's DF_EVENT write it.
const char *watchEventName(EventKind kind);
// The kind a name spells; nothing for a name that is none of them.
std::optional<EventKind> eventKind(QStringView name);
