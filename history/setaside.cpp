#include "history/setaside.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace {

// Enough for many processes setting aside in the same second; past it something is wrong.
constexpr int maxAttempts = 100;

bool taken(const QString &name)
{
    const QFileInfo info(name);
    return info.exists() || info.isSymLink();
}

} // namespace

QString setAsideName(const QString &path, const QDateTime &now, int attempt)
{
    QString name = path + QStringLiteral(".bad-") + now.toUTC().toString(u"yyyyMMdd'T'HHmmss'Z'");
    if (attempt > 1)
        name += u'-' + QString::number(attempt);
    return name;
}

std::optional<SetAsideStamp> setAsideStamp(const QString &name, const QString &fileName)
{
    static const QString pattern = QStringLiteral("\\.bad-(\\d{8}T\\d{6}Z)(?:-([1-9]\\d{0,3}))?");
    const QRegularExpression expression(QRegularExpression::anchoredPattern(QRegularExpression::escape(fileName) + pattern));
    const QRegularExpressionMatch match = expression.match(name);
    if (!match.hasMatch())
        return std::nullopt;
    return SetAsideStamp{match.captured(1), match.hasCaptured(2) ? match.captured(2).toInt() : 1};
}

SetAside setAsideFile(const QString &path, const FileIdentity &read, const QDateTime &now)
{
    SetAside result;
    // QFile::rename never replaces an existing file, so a name another process takes in the
    // meantime only moves this one on to the next.
    QFile file(path);
    for (int attempt = 1; attempt <= maxAttempts && result.path.isEmpty(); ++attempt) {
        const QString candidate = setAsideName(path, now, attempt);
        if (taken(candidate))
            continue;
        // Checked as late as can be: a rename by path takes whatever is there by then.
        if (fileIdentity(path) != read)
            return {{}, QStringLiteral("it was replaced since it was read"), true};
        if (file.rename(candidate))
            result.path = candidate;
        else if (!taken(candidate))
            return {{}, file.errorString()};
    }
    if (result.path.isEmpty())
        return {{}, QStringLiteral("every name to set it aside under is taken")};

    const QFileInfo info(path);
    const QString fileName = info.fileName();
    QDir folder = info.absoluteDir();
    QList<std::pair<SetAsideStamp, QString>> older;
    const QFileInfoList entries = folder.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        const std::optional<SetAsideStamp> stamp = setAsideStamp(entry.fileName(), fileName);
        // A folder set aside is left for the person to remove: nothing here deletes a tree.
        if (stamp && entry.absoluteFilePath() != QFileInfo(result.path).absoluteFilePath()
            && (entry.isSymLink() || !entry.isDir()))
            older.append({*stamp, entry.fileName()});
    }
    std::sort(older.begin(), older.end(), [](const auto &a, const auto &b) {
        return a.first.time != b.first.time ? a.first.time > b.first.time : a.first.attempt > b.first.attempt;
    });
    for (qsizetype i = keptSetAsides - 1; i < older.size(); ++i)
        folder.remove(older.at(i).second);
    return result;
}

OwnFileReading readOwnFile(const QString &path, const std::function<std::optional<QString>(const QByteArray &)> &damage)
{
    using Status = OwnFileReading::Status;
    for (int round = 0; round < 3; ++round) {
        const FileBytes file = readBoundedFile(path, true);
        std::optional<QString> problem = file.problem;
        switch (file.status) {
        case FileBytes::Status::Missing:
            return {};
        case FileBytes::Status::Unreadable:
            return {Status::Unreadable, file.problem, {}, {}};
        case FileBytes::Status::Read:
            problem = damage(file.bytes);
            break;
        case FileBytes::Status::TooLarge:
            break;
        }
        if (!problem)
            return {Status::Read, {}, {}, {}};
        const SetAside aside = setAsideFile(path, file.identity);
        if (aside.replaced)
            continue;
        if (aside.path.isEmpty())
            return {Status::Damaged, *problem, {}, aside.problem};
        return {Status::SetAside, *problem, aside.path, {}};
    }
    return {Status::Unreadable, QStringLiteral("it keeps changing"), {}, {}};
}
