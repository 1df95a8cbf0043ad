#pragma once

#include <QByteArrayView>

#include <cstdio>

// How every command writes: results to standard output, problems to standard error, each
// write whole and flushed at once, so that a reader sees it as it happens and a failure shows
// at the write that met it. False when the bytes could not all be written (a full disk, a
// reader gone): the command writes no more and ends with its failure status, and the program
// says once, as it leaves, that its output could not be written.
bool writeOutput(std::FILE *stream, QByteArrayView bytes);
