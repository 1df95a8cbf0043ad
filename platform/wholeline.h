#pragma once

#include "platform/result.h"

#include <QByteArray>
#include <QList>
#include <QString>


// The one way the tool adds to a file it keeps a line at a time: each line with one append
// of the whole line, so that a reader sees it whole or not at all, and a failed write (a full
// disk) is taken back rather than left as half a line. A file that ends in a half line left
// by a crash gets a line end first, so that the new line is not joined to it. The caller
// holds the data lock, so that no other writer appends meanwhile. Any thread.

// The lines (each without its line end) appended at `path`, made with its folder when it is
// not there. Refused: a path that is not a regular file, one that cannot be both read and
// written now (left alone as it is).
Result<> appendWholeLines(const QString &path, const QList<QByteArray> &lines);
