#pragma once

#include "platform/boundedjson.h"

#include <QDateTime>
#include <QString>

#include <functional>
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
    QString path;          // the new name; empty when the file stayed where it was
    QString problem;       // why it could not be moved; empty when it was
    bool replaced = false; // the path no longer names the file that was read: left alone
};

// Renames the file at `path` beside itself under setAsideName's first free name, never
// replacing a file, then removes the oldest set-asides of that file past keptSetAsides,
// ordered by the time in their names. The one just made is always kept, even when a clock
// set back gives it the oldest name. Only the file that was read, `read`, is renamed: a file
// put at the path since (another instance's whole file) is left where it is, and so is the
// path when nothing is there any more.
SetAside setAsideFile(const QString &path, const FileIdentity &read,
                      const QDateTime &now = QDateTime::currentDateTimeUtc());

// One of the tool's own files, read to be used: its bytes, or why there are none.
struct OwnFileReading final {
    // Read: whole, and `damage` found nothing wrong. Missing: no file. Unreadable: it could
    // not be read now, which says nothing of what it holds: left where it is. SetAside:
    // damaged, and renamed to `asidePath`. Damaged: damaged, and left where it is because
    // it could not be set aside (`asideProblem`).
    enum class Status { Read, Missing, Unreadable, SetAside, Damaged };
    Status status = Status::Missing;
    QString problem; // Unreadable: why; SetAside, Damaged: the damage
    QString asidePath;
    QString asideProblem;
};

// Reads the file at `path` (a regular file, within the bounded reader's bound) and hands its
// bytes to `damage`, which says what is wrong with them, or nothing. A file too large or
// damaged is set aside; one replaced before it could be (another instance's whole file) is
// read in its place.
OwnFileReading readOwnFile(const QString &path, const std::function<std::optional<QString>(const QByteArray &)> &damage);
