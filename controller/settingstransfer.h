#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The user's settings as one JSON document, to move them to another computer or share them:
//   {"format": "devicefinder-settings", "version": 1,
//    "labels": [{"macAddress", "label", "watch": false}, ...]   (as the labels file holds them)
//    "actions": [{"name", "command"}, ...]                      (as actions.json holds them)
//    "window": {"Watch", "WatchIntervalMinutes", "WatchMissingAfter", "LastScanAddress"}}
// "actions" and "window" only when there are any. Main thread (the preferences).
struct SettingsFiles final {
    QString labels;  // DeviceLabels::defaultPath() for the user's
    QString actions; // rowActionsPath() for the user's
};

// The document, or why not (a labels or actions file that cannot be read now).
struct SettingsExport final {
    QByteArray document;
    QString problem;
};
SettingsExport exportSettings(const SettingsFiles &files);

// Takes a document in. Refused, and nothing changed: not such a document, a newer version,
// over 16 MiB, over 10,000 labels, or any part malformed. Otherwise merged: a label, watch
// choice, the actions or a window choice already here stays, each difference one line in
// `conflicts`, unless `replace`, when the document's take the place of what is here (its
// labels all of them). Failed: the labels could not be written (read-only, a lock, a write);
// a failure writing the actions or choices after the labels is said the same way.
struct SettingsImport final {
    enum class Outcome { Imported, Refused, Failed };
    Outcome outcome = Outcome::Imported;
    QString problem;
    QStringList conflicts;
};
SettingsImport importSettings(const QByteArray &bytes, const SettingsFiles &files, bool replace);
