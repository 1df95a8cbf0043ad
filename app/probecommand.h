#pragma once

#include "app/commandline.h"

// `devicefinder probe ADDRESS`: asks the one address for its details and prints the device.
// Exit status 0, or 1 when no device answered.
int runProbeCommand(int argc, char *argv[], const Command &command);
