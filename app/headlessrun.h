#pragma once

#include "app/commandline.h"
#include "controller/mainviewcontroller.h"
#include "scan/rangelist.h"

#include <functional>
#include <memory>
#include <optional>

// What the commands that run the controller without a window share (discover, scan, probe,
// watch): each makes the application object, sets up a controller, runs to the run's end,
// prints the device list to standard output and returns the exit status. SIGINT or SIGTERM
// stops a discovery run or a range scan, which then prints what it found; a second signal
// leaves at once, also while the list is being printed. A probe ends at once on either, as a
// signal ends any program. Main thread; the commands that stop on signals need
// blockQuitSignals() first.

// A controller without a window: the command's broadcast address, reply port and ARP pace,
// the device history for discover, scan and watch unless --no-history, and the user's labels.
std::shared_ptr<MainViewController> headlessController(const Command &command);

// Turns the event loop until the run in progress ends, and tells how it ended.
MainViewController::FinishedRun waitForRun(MainViewController &controller);

// The devices on standard output as the format asks; `oneDevice` lists a probe's device as
// its keys and values.
void printDevices(const DeviceList &devices, const LabelOf &labelOf, OutputFormat format, bool oneDevice);

// The run's devices, or with --changes what changed against the history.
void printRun(const MainViewController &controller, const Command &command);

// One line on standard error for a run that could ask nothing ("device" or "address").
bool saidFailed(const MainViewController::FinishedRun &run, const char *what);

// The ranges of the command line: its operands, or the lines of the --ranges-from file.
// Nothing, after one line on standard error, when they cannot be read.
std::optional<RangeList> commandLineRanges(const Command &command);

// SIGINT or SIGTERM stops the run as the window's Stop button does: the devices found so
// far are printed as usual, and the status is 128 plus the signal's number. A signal after
// the run's end still sets the status; a second one leaves at once, after `atOnce` (any
// thread). Between the runs of watch, a signal ends the command.
void stopOnQuitSignals(const std::shared_ptr<MainViewController> &controller, std::function<void()> atOnce = {});

// 128 plus the number of the first SIGINT or SIGTERM that a discover or scan command
// received, as a shell reports a command that a signal ended; 0 while none has come. It
// outranks the command's own status, also for a signal that comes after the run, while
// the list is still being written. Any thread.
int signalExitStatus();
