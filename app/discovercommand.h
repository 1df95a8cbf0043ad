#pragma once

#include "app/commandline.h"

// `devicefinder discover`: one discovery run, its devices (or with --changes what changed)
// printed, and with --report the discovery report written. Exit status 0, or 1 when the run
// could ask nobody or the report could not be written (see headlessrun.h for signals).
int runDiscoverCommand(int argc, char *argv[], const Command &command);
