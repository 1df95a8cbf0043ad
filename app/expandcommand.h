#pragma once

#include <QString>

#include <cstdio>

// `devicefinder expand RANGE`: writes every address of the range to `out`, one a line,
// and returns the exit status: 0, 1 when the output cannot be written (the caller says so),
// or 2 when the range cannot be expanded.
int runExpandCommand(const QString &range, std::FILE *out);
