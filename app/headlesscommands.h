#pragma once

#include "app/commandline.h"
#include "platform/controls.h"

#include <functional>
#include <memory>

// The commands that run the controller without a window: each makes the application
// object, runs one discovery run, range scan or probe to its end, prints the device list
// to standard output, and returns the exit status. SIGINT or SIGTERM stops a discovery run
// or a range scan, which then prints what it found; a second signal leaves at once, also
// while the list is being printed. A probe ends at once on either, as a signal ends any
// program. Main thread; the two that stop on signals need blockQuitSignals() first.
int runDiscoverCommand(int argc, char *argv[], const Command &command);
int runScanCommand(int argc, char *argv[], const Command &command);
int runProbeCommand(int argc, char *argv[], const Command &command);
// Discovery runs one after another, every command.everySeconds, printing one JSON line for
// each change it finds (see history/devicewatch.h) as it happens, until SIGINT or SIGTERM.
// With --notify, `notifier` (called once, after the application object is made) gives what
// shows each run's changes as the window's notification does.
int runWatchCommand(int argc, char *argv[], const Command &command,
                    const std::function<std::shared_ptr<ChangeNotifier>()> &notifier = {});

// 128 plus the number of the first SIGINT or SIGTERM that a discover or scan command
// received, as a shell reports a command that a signal ended; 0 while none has come. It
// outranks the command's own status, also for a signal that comes after the run, while
// the list is still being written. Any thread.
int signalExitStatus();
