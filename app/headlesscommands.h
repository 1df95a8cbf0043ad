#pragma once

#include "app/commandline.h"

// The commands that run the controller without a window: each makes the application
// object, runs one discovery run, range scan or probe to its end, prints the device list
// to standard output, and returns the exit status. SIGINT or SIGTERM stops a discovery run
// or a range scan, which then prints what it found and returns 130 or 143; a probe ends at
// once on either, as a signal ends any program. Main thread.
int runDiscoverCommand(int argc, char *argv[], const Command &command);
int runScanCommand(int argc, char *argv[], const Command &command);
int runProbeCommand(int argc, char *argv[], const Command &command);
