#include "platform/userprogram.h"

#include <QProcess>
#include <QStandardPaths>

#include <csignal>
#include <linux/close_range.h>
#include <unistd.h>

namespace {

// Runs in the child between fork and exec, so only async-signal-safe calls.
void cleanChild(ChildGroup group)
{
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction byDefault = {};
    byDefault.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &byDefault, nullptr);
    // The tool's sockets and files are none of the program's business. Marked rather than
    // closed: Qt reports a failed exec through a descriptor of its own. A kernel without
    // this leaves them open, as before.
    close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC);
    if (group == ChildGroup::Session)
        setsid();
    else
        setpgid(0, 0);
}

} // namespace

void prepareUserProgram(QProcess &process, const QStringList &command, ChildGroup group)
{
    process.setProgram(command.value(0));
    process.setArguments(command.mid(1));
    process.setChildProcessModifier([group] { cleanChild(group); });
}

ProgramStart startDetachedProgram(const QStringList &command, std::chrono::milliseconds startWait)
{
    if (command.isEmpty() || command.first().isEmpty())
        return {false, QStringLiteral("no program given")};
    const QString &program = command.first();
    // Said plainly, since it is the usual reason; Qt would only say that exec failed.
    if (!program.contains(u'/') && QStandardPaths::findExecutable(program).isEmpty())
        return {false, QStringLiteral("%1 was not found").arg(program)};

    // Lives until the program ends, and Qt reaps it then: deleting it earlier would kill it.
    auto *process = new QProcess;
    prepareUserProgram(*process, command, ChildGroup::Session);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    process->start();
    if (process->waitForStarted(int(startWait.count())))
        return {true, {}};

    const QString reason = QStringLiteral("%1 could not be started: %2").arg(program, process->errorString());
    if (process->state() == QProcess::NotRunning)
        delete process;
    else
        process->kill(); // still not executed; its end deletes it
    return {false, reason};
}
