#pragma once

#include "platform/result.h"

#include <QByteArray>
#include <QString>

// The one way the tool writes a file: whole, to a temporary file beside it, then renamed over
// it, so that a reader (another instance too) sees the old file or the new one, never a part.
// A failure is one reason, for the caller to put in its own words. Any thread.

// Whose file a path names. The tool's own data and configuration files have their folder
// made first; a path the user named is written where it says, or not at all.
enum class FileOwner { Tool, User };

// One file written beside its place and not yet in it, so that several can be renamed into
// place together. A symbolic link's target is what is replaced; a file there keeps its
// permissions, and a new one gets the usual ones (0666 less the umask).
class WholeFile final {
public:
    WholeFile(const QString &path, FileOwner owner);
    WholeFile(WholeFile &&other) noexcept;
    WholeFile &operator=(WholeFile &&) = delete;
    WholeFile(const WholeFile &) = delete;
    WholeFile &operator=(const WholeFile &) = delete;
    // Removes the temporary file of a write never placed.
    ~WholeFile();

    // The file that is replaced: the path, or the target of a symbolic link there.
    const QString &path() const { return m_path; }
    // Writes the bytes, flushed to the disk, to a temporary file beside path(). Refused: a
    // folder or a read-only file at path(), a folder that is not there and may not or cannot
    // be made.
    Result<> write(const QByteArray &bytes);
    // Renames the written file into place; when it cannot, the temporary file is removed.
    Result<> place();

private:
    QString m_path;
    FileOwner m_owner;
    QString m_problem; // found when the path was looked at
    QString m_temporary;
};

// The bytes written whole at `path` (write, then place).
Result<> writeWholeFile(const QString &path, const QByteArray &bytes, FileOwner owner);
