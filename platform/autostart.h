#pragma once

#include "platform/result.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The desktop's autostart entry that starts the window hidden in the tray at login:
// $XDG_CONFIG_HOME/autostart/devicefinder.desktop (~/.config when the variable is unset or
// not an absolute path). The entry's presence is the choice itself, so that removing it
// in the desktop's own settings unchecks it here too; so does a desktop that disables it
// in place (Hidden=true).

// Where the entry is.
QString autostartEntryPath();
// Whether the entry is there and not disabled.
bool startsAtLogin();
// Writes the entry (whole, by rename), which runs this very program, or removes it.
Result<> setStartAtLogin(bool start);

// One argument of an entry's Exec key, quoted as the desktop entry format says; nothing
// for a text the format cannot hold (a control character). Pure.
std::optional<QString> desktopExecArgument(const QString &argument);
// Whether an entry's text leaves it enabled: its [Desktop Entry] group says no Hidden=true.
// Pure.
bool autostartEntryEnabled(const QByteArray &entry);
