#include "platform/datalock.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>

namespace {

// A live instance holds the lock for one read and one write; a lock this old belongs to one
// that hangs (one that died leaves a lock QLockFile sees as stale at once).
constexpr std::chrono::seconds staleLockAge{30};

} // namespace

QString dataLockPath(const QString &folder)
{
    return folder + QStringLiteral("/labels.json.lock");
}

DataLockOutcome holdingDataLock(const QString &lockPath, std::chrono::milliseconds wait, const std::function<void()> &act)
{
    QDir().mkpath(QFileInfo(lockPath).absolutePath());
    QLockFile lock(lockPath);
    lock.setStaleLockTime(staleLockAge);
    if (lock.tryLock(wait)) {
        act();
        return DataLockOutcome::Held;
    }
    switch (lock.error()) {
    case QLockFile::LockFailedError:
        return DataLockOutcome::Busy;
    case QLockFile::PermissionError:
        return DataLockOutcome::Denied;
    case QLockFile::NoError:
    case QLockFile::UnknownError:
        break;
    }
    return DataLockOutcome::Failed;
}
