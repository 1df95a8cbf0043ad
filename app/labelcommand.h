#pragma once

#include <QString>

#include <cstdio>

// What `devicefinder label` asks for; the command line fills it in.
struct LabelRequest final {
    enum class Action { Print, Set, List, Watch };
    Action action = Action::List;
    QString macAddress; // Print, Set: as the user wrote it
    QString label;      // Set: the new label; an empty one removes the label
    bool json = false;  // List: JSON in place of a table
    bool watched = true; // Watch: --watch on (true) or off
};

// `devicefinder label MAC TEXT` sets a label, `label MAC ""` removes it, `label MAC` prints it,
// `label MAC --watch off|on` leaves the device out of watching or watches it again,
// `label --list [--json]` prints every label: a table with "MAC address", "Label" and "Watch"
// columns (nothing when there is no entry), or a JSON array of {"macAddress", "label",
// "watch"} objects ("label" only when there is one, "watch" only when false), by MAC address. Labels are read and written at `labelsPath` (DeviceLabels::defaultPath() for the
// user's), whether or not the history is kept; no network, no window, no application object.
// Results go to `out`, one line per problem to `err`, and a labels file found damaged and set
// aside is named there once. Exit status:
//   0  the label or watch choice was set or removed, printed, or the list printed;
//   1  `label MAC` for a device without a label (nothing printed); the labels could not be read
//      (a file of a newer version, one that cannot be opened) or written (a lock not had in
//      time, a failed write); or the output could not be written;
//   2  a malformed MAC address, or a label over 200 characters or with a line break or another
//      control or invisible character.
int runLabelCommand(const LabelRequest &request, const QString &labelsPath, std::FILE *out, std::FILE *err);
