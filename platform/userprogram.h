#pragma once

#include <QString>
#include <QStringList>

#include <chrono>

class QProcess;

// Starting the user's own programs (row actions, `watch -- PROGRAM`): always an argument
// list, never a shell, so whatever a device sent stays inside its argument.
//
// The tool blocks SIGINT and SIGTERM in every thread and ignores SIGPIPE; a child would
// inherit both across exec. Qt 6.4 runs a child process modifier only for QProcess::start
// (not for startDetached), so every start here goes through start() with a modifier that
// gives the child an empty signal mask, SIGPIPE at its default, every descriptor above
// standard error closed on exec, and a process group of its own (or a session).

enum class ChildGroup {
    // Its own process group, so that ending it ends whatever it started too.
    ProcessGroup,
    // Its own session, as a detached program: out of reach of the terminal's signals.
    Session,
};

// Sets `process` up to start the command (program, then its arguments) as above. Call
// before start(); the thread rules are QProcess's.
void prepareUserProgram(QProcess &process, const QStringList &command, ChildGroup group);

struct ProgramStart final {
    bool started = false;
    QString error; // why not, for a message: "ssh-term was not found", ...
};

// Starts the command as a detached program: its own session, standard input from
// /dev/null, standard output and error the tool's own. Waits only until the program has
// been executed (or `startWait` has passed, which ends it); it is then left running, and
// reaped whenever it ends. Main thread.
ProgramStart startDetachedProgram(const QStringList &command,
                                  std::chrono::milliseconds startWait = std::chrono::seconds(5));
