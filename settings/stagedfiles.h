#pragma once

#include "platform/wholefile.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

// Several files replaced together or not at all: each is written whole beside its place
// first (WholeFile, as the tool's own file), and only when every one could be written are
// they all renamed into place. What they replace is kept, to be put back. Whoever else writes
// these files must be held off meanwhile (the labels lock). Any thread, one at a time.
class StagedFiles final {
public:
    StagedFiles() = default;
    StagedFiles(const StagedFiles &) = delete;
    StagedFiles &operator=(const StagedFiles &) = delete;

    // Writes the bytes to a temporary file beside `path` (its folder made first; a symbolic
    // link's target is what is replaced), and keeps what `path` holds now. Why not, or empty.
    QString stage(const QString &path, const QByteArray &bytes);
    // Renames every staged file into place. When one cannot be, those placed before it are
    // put back, and this says why; empty when all are in place. A file not placed has its
    // temporary file removed.
    QString commit();
    // Puts back what the placed files replaced (a file that was not there is removed again).
    // Why one could not be, or empty.
    QString restore();

private:
    struct File final {
        WholeFile file;
        std::optional<QByteArray> before; // nothing: there was no file
        bool placed = false;
    };
    std::vector<File> m_files;
};
