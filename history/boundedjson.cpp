#include "history/boundedjson.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonParseError>

#include <algorithm>

#include <unistd.h>

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
        return QStringLiteral("larger than %1 MiB").arg(maxJsonFileBytes / (1024 * 1024));
    const JsonSize size = measureJson(json);
    if (size.containers > maxJsonContainers)
        return QStringLiteral("more than %1 JSON objects and arrays").arg(maxJsonContainers);
    if (size.items > maxJsonItems)
        return QStringLiteral("more than %1 JSON values").arg(maxJsonItems);
    return std::nullopt;
}

namespace {

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
        return {{}, file.errorString()};
    if (bytes.size() > maxJsonFileBytes)
        return {{}, QStringLiteral("larger than %1 MiB").arg(maxJsonFileBytes / (1024 * 1024))};
    return {bytes, {}};
}

} // namespace

FileBytes readBoundedFile(const QString &path, bool regularOnly)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {{}, QStringLiteral("no such file")};
    if (info.isDir())
        return {{}, QStringLiteral("a folder, not a file")};
    if (regularOnly && !info.isFile())
        return {{}, QStringLiteral("not a regular file")};
    if (info.isFile() && info.size() > maxJsonFileBytes)
        return {{}, QStringLiteral("larger than %1 MiB").arg(maxJsonFileBytes / (1024 * 1024))};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {{}, file.errorString()};
    return readBounded(file);
}

FileBytes readBoundedStandardInput()
{
    QFile file;
    if (!file.open(STDIN_FILENO, QIODevice::ReadOnly))
        return {{}, file.errorString()};
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
