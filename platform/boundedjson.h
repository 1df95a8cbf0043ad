#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonDocument>
#include <QString>

#include <optional>

// Reading JSON that the tool does not trust (the files it keeps, device lists given to
// `diff`, settings documents, devices' replies) without a huge allocation: the bytes are bounded, and so is what parsing them
// would build. Pure, any thread.

// A parsed value costs far more memory than its text, most of all a container (an object
// or an array costs some 200 bytes), so both are counted before parsing.
inline constexpr qint64 maxJsonFileBytes = 16 * 1024 * 1024;
inline constexpr qsizetype maxJsonContainers = 200'000;
inline constexpr qsizetype maxJsonItems = 2'000'000;

// What parsing a text would build, counted on its bytes outside strings: containers are
// the "{" and "[", items the containers and the "," (every value but the first of each
// container follows one). Counts of two parts of one compact document add up to the count
// of the whole, less the commas and brackets between them.
struct JsonSize final {
    qsizetype containers = 0;
    qsizetype items = 0;
};
JsonSize measureJson(QByteArrayView json);

// Why the text is too large to parse; nothing when it is within the bounds above.
std::optional<QString> jsonSizeProblem(QByteArrayView json);

// Which file a path named when it was opened: another file renamed over it has another.
struct FileIdentity final {
    quint64 device = 0;
    quint64 inode = 0;
    bool operator==(const FileIdentity &) const = default;
};
// The identity of the file `path` names now (symbolic links followed); nothing when there is
// none or it cannot be looked at.
std::optional<FileIdentity> fileIdentity(const QString &path);

// A file's bytes, at most maxJsonFileBytes of them, or why they cannot be had. Only a
// regular file is read when `regularOnly` is set (a pipe or a device might never end);
// otherwise a pipe is read until it ends or passes the bound.
struct FileBytes final {
    // Read: the bytes are the whole file. TooLarge: the file itself is past the bound.
    // Unreadable: it could not be opened or read now (permissions, an I/O error, no file
    // handles left, not a regular file), which says nothing of what it holds.
    enum class Status { Read, Missing, TooLarge, Unreadable };
    Status status = Status::Unreadable;
    QByteArray bytes;
    QString problem;       // empty when the bytes were read
    FileIdentity identity; // of the file opened: Read and TooLarge
};
FileBytes readBoundedFile(const QString &path, bool regularOnly);
// The same of standard input, read until it ends or passes the bound.
FileBytes readBoundedStandardInput();

// The bytes as a JSON document within the bounds above, or why not: too large, or not
// JSON ("truncated" when the text ends too early).
struct ParsedJson final {
    QJsonDocument document;
    QString problem; // empty when the document was parsed
};
ParsedJson parseBoundedJson(const QByteArray &bytes);
