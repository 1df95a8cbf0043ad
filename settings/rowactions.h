#pragma once

#include "model/devicerecord.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// What the menu of a row in the device table offers: the built-in actions, and the user's
// own programs from actions.json, each an argument list with placeholders. Starting a
// program is not done here: this gives the argument list only. Pure but for reading the
// file; any thread.

struct RowAction final {
    enum class Kind { OpenInBrowser, CopyAddress, CopyMacAddress, SetLabel, DontWatch, History, Program };
    Kind kind = Kind::Program;
    QString name;        // the menu's text
    QStringList command; // Program: the program, then its arguments, placeholders unexpanded

    bool operator==(const RowAction &) const = default;
};

// Bounds of actions.json: a file for people to write, not a place for data.
inline constexpr qsizetype maxActionsFileBytes = 256 * 1024;
inline constexpr qsizetype maxRowActions = 50;
inline constexpr qsizetype maxActionArguments = 64; // the program included
inline constexpr qsizetype maxActionNameLength = 100;
inline constexpr qsizetype maxActionArgumentLength = 4096;

// The menu's own items, in its order: "Open in Browser", "Copy Address", "Copy MAC Address",
// "Set Label...", "Don't Watch", "History...". The row menu is built from this list, and none of the user's
// actions may take one of their names.
QList<RowAction> builtInRowActions();

// An action's name as it is compared with another: white space at its ends left out and
// inside it made one space, a Cyrillic or Greek letter that looks like a Latin one read as
// that letter (Cyrillic "о", Greek "Ο" as "o"), case folded, "…" read as "..." and "&" left
// out, so that two names a person reads as one compare equal (a name with an invisible
// character is refused anyway).
QString actionNameKey(QStringView name);
// Whether a user's action would read as one of builtInRowActions (as actionNameKey compares).
bool isBuiltInActionName(QStringView name);

// A command as one line for a person to see what runs: its arguments apart by spaces, one that
// is empty or holds white space, a quote or a backslash in double quotes, with a backslash
// before each quote and backslash in it. Not yet fit for a terminal: see terminalText.
QString commandText(const QStringList &command);

// The keys of an action that are read: "name" and "command".
inline constexpr QStringView actionKeys[] = {u"name", u"command"};

struct RowActionsFile final {
    QList<RowAction> actions; // the user's, in the file's order; none when there is a problem
    QString problem;          // why the file is not used, for the menu; empty when it is
};

// The user's actions from the bytes of actions.json: a JSON array of objects, each with a
// "name" (one line, at most maxActionNameLength characters) and a "command" (an array of 1
// to maxActionArguments texts, each at most maxActionArgumentLength characters; the first,
// the program, not empty). Other keys are ignored. In the texts, "{address}", "{mac}",
// "{hostname}", "{serial}" and "{label}" are placeholders and "{{" and "}}" stand for "{" and
// "}"; any other brace, an unknown "{word}" included, makes the file bad, and so does a
// placeholder in the program: a device must never choose what runs. So does a name of the
// menu's own (isBuiltInActionName), and a name that mixes Latin letters with Cyrillic or
// Greek ones: a menu item must never run another program than its name says. One bad action
// makes the whole file bad, so that its error is seen rather than an action silently missing.
RowActionsFile parseRowActions(const QByteArray &bytes);

// ~/.config/devicefinder/actions.json (the configuration folder follows XDG_CONFIG_HOME).
QString rowActionsPath();

// The file's actions, within the bounded reader's bounds and maxActionsFileBytes. A missing
// file is no actions and no problem; a bad one gives its problem, the file named.
RowActionsFile readRowActions(const QString &path);

struct ExpandedCommand final {
    QStringList arguments; // the program, then its arguments; empty when not offered
    QString unavailable;   // why the action is not offered for this device, for the menu
};

// The argument list of a command (as parseRowActions accepts it) for one device and its
// label. Each placeholder is replaced inside its own argument, so whatever the device sent
// stays one argument, whatever it holds. {address} is the record's ipAddress when it is a
// plain dotted-quad IPv4 address; {mac} its macAddress as macAddressKey writes it
// ("00:80:a3:1b:2c:3d"); {hostname} and {serial} its hostname and serialNumber texts;
// {label} the label. The action is not offered (no arguments, and the reason) when a
// placeholder's value is missing or empty, longer than maxActionArgumentLength, holds a
// control or invisible character (safetext.h), or would start an argument with "-", which
// the program would read as an option of its own.
ExpandedCommand expandCommand(const QStringList &command, const DeviceRecord &record, const QString &label);
