#include "platform/boundedjson.h"

#include <QFile>
#include <QJsonParseError>

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString tooLargeText()
{
    return QStringLiteral("larger than %1 MiB").arg(maxJsonFileBytes / (1024 * 1024));
}

} // namespace

JsonSize measureJson(QByteArrayView json)
{
    JsonSize size;
    bool inString = false;
    bool escaped = false;
    for (const char c : json) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            ++size.containers;
            ++size.items;
        } else if (c == ',') {
            ++size.items;
        }
    }
    return size;
}

std::optional<QString> jsonSizeProblem(QByteArrayView json)
{
    if (json.size() > maxJsonFileBytes)
        return tooLargeText();
    const JsonSize size = measureJson(json);
    if (size.containers > maxJsonContainers)
        return QStringLiteral("more than %1 JSON objects and arrays").arg(maxJsonContainers);
    if (size.items > maxJsonItems)
        return QStringLiteral("more than %1 JSON values").arg(maxJsonItems);
    return std::nullopt;
}

namespace {

FileBytes unreadable(const QString &problem)
{
    return {FileBytes::Status::Unreadable, {}, problem, {}};
}

// What is left of an open file up to one byte past the bound: the size a file says may be
// wrong (a file growing, a pipe), so the reads stop there whatever it said.
FileBytes readBounded(QFile &file)
{
    QByteArray bytes;
    constexpr qint64 chunk = 1 << 16;
    while (bytes.size() <= maxJsonFileBytes) {
        const QByteArray part = file.read(std::min(chunk, maxJsonFileBytes + 1 - bytes.size()));
        if (part.isEmpty())
            break;
        bytes += part;
    }
    if (file.error() != QFileDevice::NoError)
        return unreadable(file.errorString());
    if (bytes.size() > maxJsonFileBytes)
        return {FileBytes::Status::TooLarge, {}, tooLargeText(), {}};
    return {FileBytes::Status::Read, bytes, {}, {}};
}

FileIdentity identityOf(const struct stat &status)
{
    return {quint64(status.st_dev), quint64(status.st_ino)};
}

} // namespace

std::optional<FileIdentity> fileIdentity(const QString &path)
{
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return identityOf(status);
}

FileBytes readBoundedFile(const QString &path, bool regularOnly)
{
    // Opened without waiting: a pipe put at the path of a file of ours must not hold the
    // reader until something writes to it.
    const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | (regularOnly ? O_NONBLOCK : 0);
    const int descriptor = ::open(QFile::encodeName(path).constData(), flags);
    if (descriptor < 0) {
        if (errno == ENOENT)
            return {FileBytes::Status::Missing, {}, QStringLiteral("no such file"), {}};
        return unreadable(qt_error_string(errno));
    }
    struct stat status {};
    QString problem;
    if (::fstat(descriptor, &status) != 0)
        problem = qt_error_string(errno);
    else if (S_ISDIR(status.st_mode))
        problem = QStringLiteral("a folder, not a file");
    else if (regularOnly && !S_ISREG(status.st_mode))
        problem = QStringLiteral("not a regular file");
    QFile file;
    if (problem.isEmpty() && !file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        problem = file.errorString();
    if (!problem.isEmpty()) {
        if (!file.isOpen())
            ::close(descriptor);
        return unreadable(problem);
    }
    FileBytes read = S_ISREG(status.st_mode) && status.st_size > maxJsonFileBytes
                         ? FileBytes{FileBytes::Status::TooLarge, {}, tooLargeText(), {}}
                         : readBounded(file);
    read.identity = identityOf(status);
    return read;
}

FileBytes readBoundedStandardInput()
{
    QFile file;
    if (!file.open(STDIN_FILENO, QIODevice::ReadOnly))
        return unreadable(file.errorString());
    return readBounded(file);
}

ParsedJson parseBoundedJson(const QByteArray &bytes)
{
    if (const std::optional<QString> problem = jsonSizeProblem(bytes))
        return {{}, *problem};
    if (bytes.trimmed().isEmpty())
        return {{}, QStringLiteral("empty")};
    QJsonParseError error;
    QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error == QJsonParseError::NoError)
        return {document, {}};
    // A parser that stops at the last byte met a file cut short.
    qsizetype end = bytes.size();
    while (end > 0 && QByteArrayView(" \t\r\n").contains(bytes.at(end - 1)))
        --end;
    if (error.offset >= end - 1)
        return {{}, QStringLiteral("not JSON: truncated")};
    return {{}, QStringLiteral("not JSON: %1 at byte %2").arg(error.errorString()).arg(error.offset)};
}
