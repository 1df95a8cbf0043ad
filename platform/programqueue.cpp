#include "platform/programqueue.h"

#include "platform/log.h"
#include "platform/userprogram.h"

#include <QProcess>

#include <cerrno>
#include <csignal>

namespace {

QString secondsText(std::chrono::milliseconds duration)
{
    return QString::number(double(duration.count()) / 1000);
}

} // namespace

ProgramQueue::ProgramQueue(QStringList command, Limits limits, QObject *parent)
    : QObject(parent), m_command(std::move(command)), m_limits(limits)
{
    Q_ASSERT(!m_command.isEmpty());
    m_timeLimit.setSingleShot(true);
    m_killDelay.setSingleShot(true);
    connect(&m_timeLimit, &QTimer::timeout, this, [this] {
        logLine(lcApp, "The program %@ ran over %@ s and was ended", name(), secondsText(m_limits.timeLimit));
        m_endedByUs = true;
        signalGroup(SIGTERM);
        m_killDelay.start(m_limits.killDelay);
    });
    connect(&m_killDelay, &QTimer::timeout, this, [this] { signalGroup(SIGKILL); });
}

ProgramQueue::~ProgramQueue()
{
    if (!m_process)
        return;
    m_process->disconnect(this);
    signalGroup(SIGKILL);
    // Only the moment a killed process takes to go; QProcess would wait for it anyway.
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

void ProgramQueue::stop()
{
    m_waiting.clear();
    if (!m_process || m_endedByUs)
        return;
    m_endedByUs = true;
    m_timeLimit.stop();
    signalGroup(SIGTERM);
    m_killDelay.start(m_limits.killDelay);
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
    m_timeLimit.start(m_limits.timeLimit);
}

void ProgramQueue::runEnded()
{
    m_timeLimit.stop();
    m_killDelay.stop();
    m_process->disconnect(this);
    m_process->deleteLater();
    m_process = nullptr;
    // Queued, so that the next run never starts inside the signal of the last one.
    QMetaObject::invokeMethod(this, &ProgramQueue::startNext, Qt::QueuedConnection);
}

void ProgramQueue::signalGroup(int signal)
{
    const qint64 pid = m_process ? m_process->processId() : 0;
    if (pid <= 0)
        return;
    // The child makes its group at once; should it not have yet, the child alone.
    if (::kill(-pid_t(pid), signal) != 0 && errno == ESRCH)
        ::kill(pid_t(pid), signal);
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
