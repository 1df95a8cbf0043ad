#include "platform/wholefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// As many as the kernel follows in one path.
constexpr int maxLinks = 40;
// Names taken by others' temporary files before this one gives up.
constexpr int maxNames = 100;

QString systemError(int error)
{
    return QString::fromStdString(std::system_category().message(error));
}

// A name beside `path` for its temporary file: "labels.json.k3Xq9a".
QString temporaryName(const QString &path)
{
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QString name = path + u'.';
    for (int i = 0; i < 6; ++i)
        name += QLatin1Char(letters[QRandomGenerator::global()->bounded(int(sizeof letters - 1))]);
    return name;
}

bool writeAll(int handle, const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t written = ::write(handle, bytes.constData() + done, size_t(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            errno = written == 0 ? EIO : errno;
            return false;
        }
        done += written;
    }
    return true;
}

} // namespace

WholeFile::WholeFile(const QString &path, FileOwner owner) : m_path(path), m_owner(owner)
{
    // A link's target is replaced, not the link; one that is not there yet is made.
    QFileInfo info(path);
    for (int links = 0; info.isSymLink(); ++links) {
        if (links == maxLinks) {
            m_problem = systemError(ELOOP);
            return;
        }
        info.setFile(info.symLinkTarget());
    }
    m_path = info.filePath();
}

WholeFile::WholeFile(WholeFile &&other) noexcept
    : m_path(std::move(other.m_path)), m_owner(other.m_owner), m_problem(std::move(other.m_problem)),
      m_temporary(std::exchange(other.m_temporary, QString()))
{
}

WholeFile::~WholeFile()
{
    if (!m_temporary.isEmpty())
        ::unlink(QFile::encodeName(m_temporary).constData());
}

Result<> WholeFile::write(const QByteArray &bytes)
{
    if (!m_problem.isEmpty())
        return Failure{m_problem};
    const QByteArray path = QFile::encodeName(m_path);
    const QString folder = QFileInfo(m_path).absolutePath();
    if (m_owner == FileOwner::Tool && !QDir().mkpath(folder))
        return Failure{QStringLiteral("the folder %1 cannot be made").arg(folder)};
    struct stat there {};
    const bool exists = ::stat(path.constData(), &there) == 0;
    if (exists && S_ISDIR(there.st_mode))
        return Failure{systemError(EISDIR)};
    // A file made read-only is the user's word: it is not replaced behind their back.
    if (exists && ::access(path.constData(), W_OK) != 0)
        return Failure{systemError(errno)};
    for (int attempt = 0; attempt < maxNames; ++attempt) {
        const QString name = temporaryName(m_path);
        const int handle = ::open(QFile::encodeName(name).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (handle < 0 && errno == EEXIST)
            continue;
        if (handle < 0)
            return Failure{systemError(errno)};
        if (!m_temporary.isEmpty())
            ::unlink(QFile::encodeName(m_temporary).constData());
        m_temporary = name;
        if (exists)
            ::fchmod(handle, there.st_mode & 0777); // as the file had them, where the file system keeps any
        const bool written = writeAll(handle, bytes) && ::fsync(handle) == 0;
        const int error = errno;
        if (::close(handle) != 0 || !written) {
            const int reason = written ? errno : error;
            ::unlink(QFile::encodeName(std::exchange(m_temporary, QString())).constData());
            return Failure{systemError(reason)};
        }
        return {};
    }
    return Failure{systemError(EEXIST)};
}

Result<> WholeFile::place()
{
    if (m_temporary.isEmpty())
        return Failure{m_problem.isEmpty() ? QStringLiteral("nothing was written") : m_problem};
    const QByteArray temporary = QFile::encodeName(std::exchange(m_temporary, QString()));
    if (std::rename(temporary.constData(), QFile::encodeName(m_path).constData()) == 0)
        return {};
    const int error = errno;
    ::unlink(temporary.constData());
    return Failure{systemError(error)};
}

Result<> writeWholeFile(const QString &path, const QByteArray &bytes, FileOwner owner)
{
    WholeFile file(path, owner);
    if (Result<> written = file.write(bytes); !written)
        return written;
    return file.place();
}
