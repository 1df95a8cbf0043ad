#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// Several files replaced together or not at all: each is written whole beside its place
// first, and only when every one could be written are they all renamed into place. What they
// replace is kept, to be put back. Whoever else writes these files must be held off meanwhile
// (the labels lock). Any thread, one at a time.
class StagedFiles final {
public:
    StagedFiles() = default;
    StagedFiles(const StagedFiles &) = delete;
    StagedFiles &operator=(const StagedFiles &) = delete;
    // Removes the temporary files of a change not made.
    ~StagedFiles();

    // Writes the bytes to a temporary file beside `path` (its folder made first; a symbolic
    // link's target is what is replaced), and keeps what `path` holds now. Why not, or empty.
    QString stage(const QString &path, const QByteArray &bytes);
    // Renames every staged file into place. When one cannot be, those placed before it are
    // put back, and this says why; empty when all are in place.
    QString commit();
    // Puts back what the placed files replaced (a file that was not there is removed again).
    // Why one could not be, or empty.
    QString restore();

private:
    struct File final {
        QString path;
        QString temporary; // empty once renamed into place
        std::optional<QByteArray> before; // nothing: there was no file
        bool placed = false;
    };
    QList<File> m_files;
};
