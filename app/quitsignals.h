#pragma once

#include <functional>

// SIGINT and SIGTERM, read on the main thread. The window quits on them the way closing it
// does, so that a logout or a Ctrl-C in the terminal ends the tool with status 0; the
// headless runs stop on them instead (see headlesscommands.h).

// Blocks both signals in the calling thread and so in every thread started after it. Call
// on the main thread before the application object starts threads of its own.
void blockQuitSignals();

// From then on a blocked quit signal quits the application. Main thread, once the
// application object exists.
void quitOnBlockedSignals();

// From then on each blocked quit signal calls `handler` with its number, on the main
// thread. Main thread, once the application object exists.
void handleBlockedSignals(std::function<void(int signal)> handler);
