#include "platform/programqueue.h"

#include "platform/log.h"
#include "platform/userprogram.h"

#include <QProcess>

#include <csignal>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

QString secondsText(std::chrono::milliseconds duration)
{
    return QString::number(double(duration.count()) / 1000);
}

} // namespace

ProgramQueue::ProgramQueue(QStringList command, Limits limits, QObject *parent)
    : QObject(parent), m_command(std::move(command)), m_limits(limits),
      m_groups(std::make_shared<ProgramGroups>(limits.timeLimit, limits.killDelay))
{
    Q_ASSERT(!m_command.isEmpty());
    // What a run leaves behind comes to us when its parent ends, so that its group's number
    // stays the run's until we have reaped it (see ProgramGroups).
    ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
    m_groupTimer.setSingleShot(true);
    connect(&m_groupTimer, &QTimer::timeout, this, &ProgramQueue::advanceGroups);
}

ProgramQueue::~ProgramQueue()
{
    m_waiting.clear();
    if (m_process)
        m_process->disconnect(this);
    m_groups->signalAll(SIGTERM);
    const auto deadline = ProgramGroups::Clock::now() + m_limits.killDelay;
    while (m_groups->anyLeft() && ProgramGroups::Clock::now() < deadline) {
        // Until it is reaped, the run's first process counts as a member of its group.
        if (m_process && m_process->state() != QProcess::NotRunning)
            m_process->waitForFinished(20);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (m_process && m_process->state() == QProcess::NotRunning)
            m_groups->leaderReaped(std::exchange(m_processGroup, 0));
    }
    m_groups->killAll();
    // Only the moment a killed process takes to go; QProcess would wait for it anyway.
    if (m_process)
        m_process->waitForFinished(1000);
}

void ProgramQueue::enqueue(Job job)
{
    // With nothing running, the first job is only about to start, not waiting.
    const qsizetype waiting = qsizetype(m_waiting.size()) - (m_process ? 0 : 1);
    if (waiting >= m_limits.capacity) {
        if (m_dropped++ == 0)
            logLine(lcApp, "The program %@ is %d events behind: the next events are dropped until it catches up", name(),
                    m_limits.capacity);
        return;
    }
    reportDropped();
    m_waiting.push_back(std::move(job));
    // Started from an event-loop turn of its own, never inside the caller: that may be the
    // end of a run, which a background thread waits for, and that thread is not held while
    // a program starts. (Qt starts it vfork-style, and the thread sanitizer loses a
    // hand-over between threads that spans such a start.)
    if (!m_process && m_waiting.size() == 1)
        QMetaObject::invokeMethod(this, &ProgramQueue::startNext, Qt::QueuedConnection);
}

void ProgramQueue::startNext()
{
    if (m_process)
        return;
    if (m_waiting.empty()) {
        reportDropped();
        emit idle();
        return;
    }
    Job job = std::move(m_waiting.front());
    m_waiting.pop_front();

    auto *process = new QProcess(this);
    m_process = process;
    m_endedByUs = false;
    prepareUserProgram(*process, m_command, ChildGroup::ProcessGroup);
    process->setProcessEnvironment(job.environment);
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        // The other errors (a crash, a closed standard input) still end in finished().
        if (error != QProcess::FailedToStart)
            return;
        logLine(lcApp, "The program %@ could not be started: %@", name(), process->errorString());
        runEnded();
    });
    connect(process, &QProcess::finished, this, [this](int status, QProcess::ExitStatus exit) {
        if (!m_endedByUs && exit == QProcess::CrashExit)
            logLine(lcApp, "The program %@ ended on signal %d", name(), status);
        else if (!m_endedByUs && status != 0)
            logLine(lcApp, "The program %@ exited with status %d", name(), status);
        runEnded();
    });
    process->start();
    // Some failures to start are reported inside start(): the run has ended then.
    if (m_process != process)
        return;
    // Buffered by Qt and written as the pipe takes it; a program that does not read it
    // only makes the write fail.
    process->write(job.input);
    process->closeWriteChannel();
    // Made here too, as a shell does, so that the group is there whichever of the two comes
    // first; once the child has executed the program its own call has made it.
    m_processGroup = pid_t(process->processId());
    ::setpgid(m_processGroup, m_processGroup);
    m_groups->add(m_processGroup);
    advanceGroups();
}

void ProgramQueue::runEnded()
{
    // Its group keeps its time limit: what the program left behind is ended all the same.
    m_groups->leaderReaped(std::exchange(m_processGroup, 0));
    m_process->disconnect(this);
    m_process->deleteLater();
    m_process = nullptr;
    // Queued, so that the next run never starts inside the signal of the last one.
    QMetaObject::invokeMethod(this, &ProgramQueue::startNext, Qt::QueuedConnection);
}

void ProgramQueue::advanceGroups()
{
    const ProgramGroups::Step step = m_groups->advance();
    for (const pid_t group : step.overTime) {
        logLine(lcApp, "The program %@ ran over %@ s and was ended", name(), secondsText(m_limits.timeLimit));
        if (group == m_processGroup)
            m_endedByUs = true;
    }
    if (!step.next) {
        m_groupTimer.stop();
        return;
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(step.next.value() - ProgramGroups::Clock::now());
    m_groupTimer.start(std::max(wait, std::chrono::milliseconds(0)));
}

void ProgramQueue::reportDropped()
{
    if (m_dropped == 0)
        return;
    logLine(lcApp, "%d events were dropped for the program %@", m_dropped, name());
    m_dropped = 0;
}

QString ProgramQueue::name() const
{
    return m_command.value(0);
}
