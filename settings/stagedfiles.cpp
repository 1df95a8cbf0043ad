#include "settings/stagedfiles.h"

#include "platform/boundedjson.h"

#include <QFile>
#include <QStringList>

#include <utility>

namespace {

QString notWritten(const QString &path, const QString &why)
{
    return QStringLiteral("%1 could not be written: %2").arg(path, why);
}

} // namespace

QString StagedFiles::stage(const QString &given, const QByteArray &bytes)
{
    WholeFile file(given, FileOwner::Tool);
    const QString path = file.path();
    const FileBytes before = readBoundedFile(path, true);
    if (before.status != FileBytes::Status::Read && before.status != FileBytes::Status::Missing)
        return QStringLiteral("%1 could not be read to be kept: %2").arg(path, before.problem);
    if (const Result<> written = file.write(bytes); !written)
        return notWritten(path, written.reason());
    m_files.push_back({std::move(file), before.status == FileBytes::Status::Read ? std::optional(before.bytes) : std::nullopt});
    return {};
}

QString StagedFiles::commit()
{
    for (File &staged : m_files) {
        if (const Result<> placed = staged.file.place(); !placed) {
            const QString notPlaced = notWritten(staged.file.path(), placed.reason());
            const QString notPutBack = restore();
            return notPutBack.isEmpty() ? notPlaced : notPlaced + QStringLiteral("; ") + notPutBack;
        }
        staged.placed = true;
    }
    return {};
}

QString StagedFiles::restore()
{
    QStringList problems;
    for (auto staged = m_files.rbegin(); staged != m_files.rend(); ++staged) {
        if (!std::exchange(staged->placed, false))
            continue;
        const QString &path = staged->file.path();
        if (!staged->before) {
            if (!QFile::remove(path))
                problems.append(QStringLiteral("%1 could not be removed again").arg(path));
        } else if (const Result<> written = writeWholeFile(path, *staged->before, FileOwner::Tool); !written) {
            problems.append(QStringLiteral("%1 could not be put back: %2").arg(path, written.reason()));
        }
    }
    return problems.join(QStringLiteral("; "));
}
