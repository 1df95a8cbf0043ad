#pragma once

#include "controller/rowactions.h"
#include "labels/labelsformat.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

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

// A document read whole and checked; a part it does not hold is nothing.
struct SettingsDocument final {
    std::optional<LabelsContent> labels;
    std::optional<QList<RowAction>> actions; // as parseRowActions reads them
    QJsonArray actionsJson;                  // the same, as the document holds them
    QJsonObject window;                      // the window's choices it holds
};

// The document, or why it is refused: not such a document, a newer version, over 16 MiB,
// over 10,000 labels, any part malformed, or an action that takes a name of the row menu's
// own (see parseRowActions).
struct SettingsReading final {
    std::optional<SettingsDocument> document;
    QString problem;
};
SettingsReading readSettings(const QByteArray &bytes);

struct SettingsImportChoice final {
    bool replace = false; // the document's parts take the place of those here
    bool actions = false; // its actions are taken in; else each is named as not taken in
};

// Takes a document in, all or nothing. A part the document does not hold stays as it is.
// Merged unless `replace`: a label, an action of the same name (actionNameKey) or a window
// choice already here stays, and a merge never leaves a device out of watching that is
// watched here, nor watches one left out here; each such difference is one line in `kept`.
// With `replace` the document's labels and watch choices, actions and window choices take
// the place of those here. Under the labels lock, every file is written beside its place
// first and all are renamed into place together; the window's choices are set last, and
// when they cannot be, the files are put back. Failed (nothing changed): the lock not had,
// the labels file read-only (when the document holds labels), the actions file bad (when
// actions are merged), the bounds of either passed together, or a write.
struct SettingsImport final {
    QString problem;            // why nothing was taken in, one line; empty when it was
    qsizetype labels = 0;       // labels taken in: new ones, or another text
    qsizetype watchChoices = 0; // devices whose watch choice was taken in
    QStringList windowChoices;  // the window's choices taken in, by key
    QStringList actions;        // each action taken in, one line: its name and command
    QStringList kept;           // each part of the document not taken in, one line
};
SettingsImport importSettings(const SettingsDocument &document, const SettingsFiles &files, SettingsImportChoice choice);
