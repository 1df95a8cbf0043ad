#pragma once

#include <functional>

// The main queue: tasks run on the main thread, one at a time and in the order queued,
// between the Qt event loop's own callbacks. Once the application has begun to quit,
// queued tasks are dropped and nothing waits for them.

bool isMainThread();

// Stops the program with a clear message when called off the main thread: the lists and
// controls have no lock, so such a call is a programming error. Kept in every build.
void requireMainThread(const char *operation);
// The same for operations that wait for the main thread and so must never run on it.
void requireBackgroundThread(const char *operation);

// Queues a task for the main thread and returns at once. Any thread.
void mainAsync(std::function<void()> task);

// Runs a task on the main thread and returns once it has run. Called from a background
// thread; on the main thread the task simply runs. Once the application is quitting it
// returns without running the task, so that no thread hangs on a loop that has stopped.
void mainSync(std::function<void()> task);
