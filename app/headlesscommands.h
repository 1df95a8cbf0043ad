#pragma once

#include "app/commandline.h"

// The commands that run the controller without a window: each makes the application
// object, runs one discovery run, range scan or probe to its end, prints the device list
// to standard output, and returns the exit status. Main thread.
int runDiscoverCommand(int argc, char *argv[], const Command &command);
int runScanCommand(int argc, char *argv[], const Command &command);
int runProbeCommand(int argc, char *argv[], const Command &command);
