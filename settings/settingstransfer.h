#pragma once

#include "settings/rowactions.h"
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
//    "window": {"Watch", "WatchIntervalMinutes", "WatchMissingAfter", "WatchLocalNetwork", "WatchRange",
//               "LastScanAddress", "SiteName"}}
// "actions" and "window" only when there are any. Main thread (the preferences).
struct SettingsFiles final {
    QString labels;  // DeviceLabels::defaultPath() for the user's
    QString actions; // rowActionsPath() for the user's
    QString history; // DeviceHistory::defaultPath() for the user's: only read, for the devices it knows
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
    // Each key this version does not read (at the top, in "window", in a label entry or an
    // action) as one line, at most 20, then one line with the count of the rest.
    QStringList unknownKeys;
};

// The document, or why it is refused: not such a document, a newer version, over 16 MiB,
// over 10,000 labels, any part malformed, or an action that takes a name of the row menu's
// own (see parseRowActions). An unknown key is no reason: it is named, and not used.
struct SettingsReading final {
    std::optional<SettingsDocument> document;
    QString problem;
};
SettingsReading readSettings(const QByteArray &bytes);

struct SettingsImportChoice final {
    bool replace = false;      // the document's parts take the place of those here
    bool actions = false;      // its actions are taken in; else each is named as not taken in
    bool watchChoices = false; // a merge takes its watch choice for every device, known here or not
};

// Takes a document in, all or nothing. A part the document does not hold stays as it is.
// Merged unless `replace`: a label, an action of the same name (actionNameKey) or a window
// choice already here stays, each such difference one line in `kept`. A merge takes the
// document's watch choice for a device this computer does not know (not in the device
// history, no label, no choice here), so that settings move to a new computer, one line each
// in `watched`; for a device it knows, the choice here stays (one line in `kept`), so that a
// mailed file can neither silence a device watched here nor watch one left out, unless
// `watchChoices`. A history that cannot be read or used now makes every device known, with
// one line in `kept`. With `replace` the document's labels and watch choices, actions and
// window choices take the place of those here. Under the labels lock, every file is written beside its place
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
    QStringList watched;        // each watch choice a merge took in, one line
    QStringList kept;           // each part of the document not taken in, one line
};
SettingsImport importSettings(const SettingsDocument &document, const SettingsFiles &files, SettingsImportChoice choice);

// The watch choices of the document that a merge would keep here (the lines importSettings
// puts in `kept` for them, the one on the history first), for asking before an import whether
// to take them too. Reads the labels and the history; changes nothing.
QStringList keptWatchChoices(const SettingsDocument &document, const SettingsFiles &files);
