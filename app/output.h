#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <cstdio>

// How every command writes: results to standard output, problems to standard error, each
// write whole and flushed at once, so that a reader sees it as it happens and a failure shows
// at the write that met it. False when the bytes could not all be written (a full disk, a
// reader gone): the command writes no more and ends with its failure status, and the program
// says once, as it leaves, that its output could not be written.
bool writeOutput(std::FILE *stream, QByteArrayView bytes);

// Lines of text for a terminal: each as a terminal shows a stranger's text (terminalText), so
// that no part of it, a file's name, a device's answer or the system's words, can move the
// cursor, turn the line around or break it; each ends with a line break.
bool writeLines(std::FILE *stream, const QStringList &lines);

// One line that the program says, to standard error as a rule: "devicefinder: " and the text,
// written as writeLines writes.
bool writeMessage(std::FILE *stream, const QString &text);
