#pragma once

// SIGINT and SIGTERM quit the window's event loop the way closing the window does, so that
// a logout or a Ctrl-C in the terminal ends the tool with status 0.

// Blocks both signals in the calling thread and so in every thread started after it. Call
// on the main thread before the application object starts threads of its own.
void blockQuitSignals();

// From then on a blocked quit signal quits the application. Main thread, once the
// application object exists.
void quitOnBlockedSignals();
