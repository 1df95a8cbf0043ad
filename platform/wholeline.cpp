#include "platform/wholeline.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(int error)
{
    return QString::fromStdString(std::system_category().message(error));
}

// One write() of the whole line; a short one is taken back to `size`.
bool appendLine(int handle, const QByteArray &line, off_t size)
{
    for (;;) {
        const ssize_t written = ::write(handle, line.constData(), size_t(line.size()));
        if (written < 0 && errno == EINTR)
            continue;
        if (written == line.size())
            return true;
        const int error = written < 0 ? errno : ENOSPC;
        if (written > 0 && ::ftruncate(handle, size) != 0) {
            // Nothing more to do: the reader skips the half line.
        }
        errno = error;
        return false;
    }
}

} // namespace

Result<> appendWholeLines(const QString &path, const QList<QByteArray> &lines)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Read and write: a file this instance cannot read is one it must not add to either.
    const int handle = ::open(QFile::encodeName(path).constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (handle < 0)
        return Failure{systemError(errno)};
    std::optional<QString> problem;
    struct stat status {};
    if (::fstat(handle, &status) != 0) {
        problem = systemError(errno);
    } else if (!S_ISREG(status.st_mode)) {
        problem = QStringLiteral("not a regular file");
    } else {
        off_t size = status.st_size;
        char last = '\n';
        if (size > 0 && ::pread(handle, &last, 1, size - 1) != 1)
            problem = systemError(errno);
        for (const QByteArray &line : lines) {
            if (problem)
                break;
            const QByteArray whole = (last == '\n' ? QByteArray() : QByteArray("\n")) + line + '\n';
            if (!appendLine(handle, whole, size))
                problem = systemError(errno);
            size += whole.size();
            last = '\n';
        }
    }
    ::close(handle);
    if (problem)
        return Failure{*problem};
    return {};
}
