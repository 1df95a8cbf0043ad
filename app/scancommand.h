#pragma once

#include "app/commandline.h"

// `devicefinder scan`: one scan of the ranges (operands, a --ranges-from file or --local),
// its devices (or with --changes what changed) printed; at a terminal, how far it has come on
// standard error. Exit status 0, 1 when no address could be asked, 2 when the ranges cannot
// be expanded or read (see headlessrun.h for signals).
int runScanCommand(int argc, char *argv[], const Command &command);
