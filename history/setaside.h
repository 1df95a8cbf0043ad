#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// Putting a damaged file of the tool's own out of the way, so that the next write does not
// destroy what a person may want to look at. Every set-aside of a file keeps a name of its
// own, with the time in it, and only the newest few are kept. Any thread; two processes
// setting aside the same file never overwrite each other's set-aside.

inline constexpr int keptSetAsides = 5;

// The name a file is set aside under at `now` (UTC, whole seconds): "labels.json" becomes
// "labels.json.bad-20261209T021430Z", and with `attempt` 2 or more
// "labels.json.bad-20261209T021430Z-2" (for a name taken already). Pure.
QString setAsideName(const QString &path, const QDateTime &now, int attempt);

// Whether `name` (a file name, without folder) is one that setAsideName gives for a file
// named `fileName`; its time and attempt, for ordering, when it is. Pure.
struct SetAsideStamp final {
    QString time; // "20261209T021430Z"
    int attempt = 1;
};
std::optional<SetAsideStamp> setAsideStamp(const QString &name, const QString &fileName);

struct SetAside final {
    QString path;    // the new name; empty when the file stayed where it was
    QString problem; // why it could not be moved; empty when it was
};

// Renames the file at `path` beside itself under setAsideName's first free name, never
// replacing a file, then removes the oldest set-asides of that file past keptSetAsides,
// ordered by the time in their names. The one just made is always kept, even when a clock
// set back gives it the oldest name.
SetAside setAsideFile(const QString &path, const QDateTime &now = QDateTime::currentDateTimeUtc());
