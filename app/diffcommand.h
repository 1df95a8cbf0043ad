#pragma once

#include "app/commandline.h"

#include <cstdio>

// `devicefinder diff OLD NEW [--json]`: reads the two device lists, writes what differs to
// `out` (as a table, nothing when they hold the same devices; or as one JSON object) and
// returns the exit status as diff(1) does: 0 when nothing differs, 1 when something does, 2
// when a file cannot be read or the output cannot be written. A file that cannot be read,
// and records a file holds but diff skips, each get one line on `err` naming the file.
// Needs no application object.
int runDiffCommand(const Command &command, std::FILE *out, std::FILE *err);
