#pragma once

#include <QString>

#include <optional>

// The desktop's autostart entry that starts the window hidden in the tray at login:
// $XDG_CONFIG_HOME/autostart/devicefinder.desktop (~/.config when the variable is unset or
// not an absolute path). The entry's presence is the choice itself, so that removing it
// in the desktop's own settings unchecks it here too.

// Where the entry is.
QString autostartEntryPath();
// Whether the entry is there.
bool startsAtLogin();
// Writes the entry (whole, by rename) or removes it; why not, or nothing.
std::optional<QString> setStartAtLogin(bool start);
