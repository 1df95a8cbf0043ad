#include "platform/datalock.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>

#include <cerrno>

namespace {

// A live instance holds the lock for one read and one write; a lock this old belongs to one
// that hangs (one that died leaves a lock QLockFile sees as stale at once).
constexpr std::chrono::seconds staleLockAge{30};

} // namespace

QString dataLockPath(const QString &folder)
{
    return folder + QStringLiteral("/labels.json.lock");
}

DataLockResult holdingDataLock(const QString &lockPath, std::chrono::milliseconds wait, const std::function<void()> &act)
{
    QDir().mkpath(QFileInfo(lockPath).absolutePath());
    QLockFile lock(lockPath);
    lock.setStaleLockTime(staleLockAge);
    errno = 0;
    if (lock.tryLock(wait)) {
        act();
        return {DataLockOutcome::Held, {}};
    }
    // QLockFile keeps no reason of its own: a lock file it could not make or write leaves the
    // system's in errno (the folder not there, a read-only or full file system).
    const QString reason = errno != 0 ? qt_error_string(errno) : QString();
    switch (lock.error()) {
    case QLockFile::LockFailedError:
        return {DataLockOutcome::Busy, {}};
    case QLockFile::PermissionError:
        return {DataLockOutcome::Denied, reason};
    case QLockFile::NoError:
    case QLockFile::UnknownError:
        break;
    }
    return {DataLockOutcome::Failed, reason};
}
