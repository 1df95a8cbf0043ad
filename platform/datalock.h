#pragma once

#include <QString>

#include <chrono>
#include <functional>

// The lock of the tool's own data files that several instances change: the labels file and
// the presence log are changed only while it is held, so that two instances never lose or
// interleave each other's changes. It is a lock file (labels.json.lock beside them); one
// left by an instance that died is taken over at once, one held longer than an instance
// ever holds it is taken as that of one that hangs. Any thread.
enum class DataLockOutcome { Held, Busy, Denied, Failed };
struct DataLockResult final {
    DataLockOutcome outcome = DataLockOutcome::Failed;
    QString reason; // Denied, Failed: the system's words ("No space left on device"), when it said any
};

// The lock file of the data files in `folder`.
QString dataLockPath(const QString &folder);

// Runs `act` while holding the lock file at `lockPath` (its folder made first), after
// waiting at most `wait` for it: Held when `act` ran; Busy when another instance held it
// all that time; Denied when no lock file may be made there; Failed for another reason.
DataLockResult holdingDataLock(const QString &lockPath, std::chrono::milliseconds wait, const std::function<void()> &act);
