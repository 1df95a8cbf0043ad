#pragma once

#include "platform/programgroups.h"

#include <QByteArray>
#include <QObject>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>

class QProcess;

// Runs the user's command once per job, one job at a time and in the order given, as
// userprogram.h starts programs (its own process group). A queue makes the process a child
// subreaper for good and reaps the orphans it adopts (see ProgramGroups): a process with a
// queue starts no other child in a group or session of its own. Each run gets the job's bytes on
// its standard input and the job's environment; its standard output and error are the
// tool's own. The next run starts once the run's first process has exited. A run's process
// group that still has members at the time limit is ended, whether or not its first
// process is still there: SIGTERM to the group, SIGKILL `killDelay` later, and one log
// line. A run that cannot start, exits non-zero or dies on a signal gets one log line; the
// queue goes on either way.
//
// Memory stays bounded: at most `capacity` jobs wait. A job that comes while the queue is
// full is dropped, since the jobs are events in order and a gap at the end is easier to
// make sense of than one in the middle; the first drop of a burst is logged, and the count
// once the queue has caught up.
//
// Main thread; driven by the event loop, it never waits for a program.
class ProgramQueue final : public QObject {
    Q_OBJECT

public:
    struct Limits {
        std::chrono::milliseconds timeLimit = std::chrono::seconds(30);
        std::chrono::milliseconds killDelay = std::chrono::seconds(5);
        qsizetype capacity = 100;
    };

    struct Job {
        QByteArray input;
        QProcessEnvironment environment;
    };

    // `command` is the program and its arguments, never empty.
    explicit ProgramQueue(QStringList command, QObject *parent = nullptr) : ProgramQueue(std::move(command), Limits{}, parent) {}
    ProgramQueue(QStringList command, Limits limits, QObject *parent = nullptr);
    // Drops the jobs waiting and ends every group of its runs that still has members:
    // SIGTERM, then SIGKILL once they have all gone or `killDelay` has passed, so it waits at
    // most that long and a moment.
    ~ProgramQueue() override;

    void enqueue(Job job);
    // What kills every group of its runs at once (SIGKILL), from any thread, for a quit that
    // cannot wait; it still works once the queue has gone.
    std::function<void()> killer() const
    {
        return [groups = m_groups] { groups->killAll(); };
    }

signals:
    // Nothing runs and nothing waits any more.
    void idle();

private:
    void startNext();
    void runEnded();
    void advanceGroups();
    void reportDropped();
    QString name() const;

    const QStringList m_command;
    const Limits m_limits;
    std::deque<Job> m_waiting;
    QProcess *m_process = nullptr;
    bool m_endedByUs = false;
    qint64 m_dropped = 0;
    pid_t m_processGroup = 0; // the run's, once started
    const std::shared_ptr<ProgramGroups> m_groups;
    QTimer m_groupTimer; // when the next group is due for its signal
};
