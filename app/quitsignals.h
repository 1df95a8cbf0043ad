#pragma once

#include <functional>

// SIGINT and SIGTERM (for watch SIGHUP too), read on a thread of their own for as long as
// the process lives, so that none is lost: not while the main thread prints, nor once its
// event loop has ended. The window quits on them the way closing it does; the headless
// runs stop on them (see headlessrun.h).

// Blocks both signals in the calling thread and so in every thread started after it, and
// with `hangUp` SIGHUP too unless it is ignored (as nohup leaves it). Call on the main
// thread before any other thread starts.
void blockQuitSignals(bool hangUp = false);

// From then on calls `handler` for each blocked quit signal, on the signal thread, with the
// signal's number and how many have come so far (1 for the first). Once per process.
void watchQuitSignals(std::function<void(int signal, int count)> handler);
