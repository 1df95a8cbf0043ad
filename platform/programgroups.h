#pragma once

#include <QList>

#include <chrono>
#include <mutex>
#include <optional>
#include <sys/types.h>
#include <vector>

// The process groups of the user's programs that the tool started (see userprogram.h), so
// that none outlives its time limit or the tool: a program may exit and leave a child
// behind in its group. Each group is ended at its time limit, whether or not its first
// process is still there: SIGTERM to the whole group, then SIGKILL `killDelay` later.
//
// A group's number is signalled only while it is surely still the program's: the system may
// give a number to another group as soon as nothing of the old one is left. So the process
// must be a child subreaper (ProgramQueue makes it one): what a program leaves behind
// becomes its child when its parent ends, and a child's number, and its group's, cannot pass
// to anyone else until it has been reaped here. A group is kept while its first process has
// not been reaped by its owner or a child of ours is in it, and forgotten as soon as neither
// holds; a member whose parent is alive elsewhere is out of reach (it is no longer the
// program's to end once its group is forgotten). The orphans this process adopts are reaped
// here (a program's, also those in a session of their own), but never one that is in this
// process's own group or is the first process of a group whose owner has not reaped it: the
// process must start no other child in a group or session of its own.
//
// Memory follows the groups alive: a group is forgotten once nothing of it is left, or a
// kill delay after its SIGKILL. Thread-safe; killAll() is for a quit that cannot wait, from
// any thread.
class ProgramGroups final {
public:
    using Clock = std::chrono::steady_clock;

    ProgramGroups(std::chrono::milliseconds timeLimit, std::chrono::milliseconds killDelay)
        : m_timeLimit(timeLimit), m_killDelay(killDelay)
    {
    }

    // A group just made by its first process, our child; its time limit runs from now.
    void add(pid_t group);
    // The group's first process has been reaped by its owner: reaps what is left of the
    // group and forgets it when nothing is. Main thread, right after the reap.
    void leaderReaped(pid_t group);

    struct Step {
        QList<pid_t> overTime;                  // the groups just sent SIGTERM
        std::optional<Clock::time_point> next;  // when the next is due; none when none is left
    };
    // Reaps, forgets the groups nothing is left of, and sends each group that is due its signal.
    Step advance();

    // The signal to every group that still has members; SIGKILL forgets them all.
    void signalAll(int signal);
    void killAll();
    // Whether anything is left of any group (after a reap).
    bool anyLeft();

private:
    struct Group {
        pid_t id = 0;
        Clock::time_point due;
        bool leaderReaped = false;
        int signalsSent = 0; // 1: SIGTERM sent, SIGKILL due; 2: SIGKILL sent, forgotten when due
    };
    bool isLeft(const Group &group) const;
    bool isUnreapedLeader(pid_t pid) const;
    // Reaps the ended orphans this process adopted. Under the lock.
    void reap();
    // Forgets the groups nothing is left of. Under the lock.
    void forgetEmpty();

    const std::chrono::milliseconds m_timeLimit;
    const std::chrono::milliseconds m_killDelay;
    std::mutex m_mutex;
    std::vector<Group> m_groups;
};
