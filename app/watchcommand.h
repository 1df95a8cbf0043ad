#pragma once

#include "app/commandline.h"
#include "platform/controls.h"

#include <functional>
#include <memory>

// `devicefinder watch`: discovery runs one after another, every command.everySeconds,
// printing one JSON line for each change it finds (see history/devicewatch.h) as it happens,
// until SIGINT or SIGTERM (see headlessrun.h). With --notify, `notifier` (called once, after
// the application object is made) gives what shows each run's changes as the window's
// notification does.
int runWatchCommand(int argc, char *argv[], const Command &command,
                    const std::function<std::shared_ptr<ChangeNotifier>()> &notifier = {});
