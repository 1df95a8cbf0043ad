#pragma once

#include <QDir>
#include <QList>

#include <fcntl.h>
#include <unistd.h>

// The descriptors the process holds beyond the standard three.
inline QList<int> openDescriptors()
{
    QList<int> descriptors;
    for (const QString &name : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System)) {
        if (name.toInt() > 2)
            descriptors.append(name.toInt());
    }
    return descriptors;
}

// Whether every socket, epoll and event descriptor the process holds is close-on-exec: a
// browser that "Open" starts must inherit none.
inline bool socketsCloseOnExec()
{
    for (const int descriptor : openDescriptors()) {
        char target[256] = {};
        const bool socket = readlink(qPrintable(QStringLiteral("/proc/self/fd/%1").arg(descriptor)), target,
                                     sizeof target - 1) > 0
                            && (QByteArray(target).startsWith("socket:") || QByteArray(target).startsWith("anon_inode:"));
        if (socket && !(fcntl(descriptor, F_GETFD) & FD_CLOEXEC))
            return false;
    }
    return true;
}
