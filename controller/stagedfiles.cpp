#include "controller/stagedfiles.h"

#include "platform/boundedjson.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace {

QString notWritten(const QString &path, const QString &why)
{
    return QStringLiteral("%1 could not be written: %2").arg(path, why);
}

} // namespace

StagedFiles::~StagedFiles()
{
    for (const File &file : std::as_const(m_files)) {
        if (!file.temporary.isEmpty())
            QFile::remove(file.temporary);
    }
}

QString StagedFiles::stage(const QString &given, const QByteArray &bytes)
{
    const QFileInfo link(given);
    const QString path = link.isSymLink() ? link.symLinkTarget() : given;
    const FileBytes before = readBoundedFile(path, true);
    if (before.status != FileBytes::Status::Read && before.status != FileBytes::Status::Missing)
        return QStringLiteral("%1 could not be read to be kept: %2").arg(path, before.problem);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QTemporaryFile file(path + QStringLiteral(".XXXXXX"));
    file.setAutoRemove(false);
    if (!file.open())
        return notWritten(path, file.errorString());
    m_files.append({path, file.fileName(), before.status == FileBytes::Status::Read ? std::optional(before.bytes) : std::nullopt});
    if (before.status == FileBytes::Status::Read)
        file.setPermissions(QFileInfo(path).permissions());
    if (file.write(bytes) != bytes.size() || !file.flush() || ::fsync(file.handle()) != 0)
        return notWritten(path, file.errorString());
    return {};
}

QString StagedFiles::commit()
{
    for (File &file : m_files) {
        if (std::rename(QFile::encodeName(file.temporary).constData(), QFile::encodeName(file.path).constData()) != 0) {
            const QString problem = notWritten(file.path, QString::fromLocal8Bit(std::strerror(errno)));
            const QString notPutBack = restore();
            return notPutBack.isEmpty() ? problem : problem + QStringLiteral("; ") + notPutBack;
        }
        file.placed = true;
        file.temporary.clear();
    }
    return {};
}

QString StagedFiles::restore()
{
    QStringList problems;
    for (auto file = m_files.rbegin(); file != m_files.rend(); ++file) {
        if (!std::exchange(file->placed, false))
            continue;
        if (!file->before) {
            if (!QFile::remove(file->path))
                problems.append(QStringLiteral("%1 could not be removed again").arg(file->path));
            continue;
        }
        QSaveFile back(file->path);
        if (!back.open(QIODevice::WriteOnly) || back.write(*file->before) != file->before->size() || !back.commit())
            problems.append(QStringLiteral("%1 could not be put back: %2").arg(file->path, back.errorString()));
    }
    return problems.join(QStringLiteral("; "));
}
