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
// Memory follows the groups alive: a group is forgotten once nobody is left in it
// (kill(-group, 0) says so) or once it has had its SIGKILL. Thread-safe; killAll() is for a
// quit that cannot wait, from any thread.
class ProgramGroups final {
public:
    using Clock = std::chrono::steady_clock;

    ProgramGroups(std::chrono::milliseconds timeLimit, std::chrono::milliseconds killDelay)
        : m_timeLimit(timeLimit), m_killDelay(killDelay)
    {
    }

    // A group just made; its time limit runs from now.
    void add(pid_t group);

    struct Step {
        QList<pid_t> overTime;                  // the groups just sent SIGTERM
        std::optional<Clock::time_point> next;  // when the next is due; none when none is left
    };
    // Sends each group that is due its signal and forgets the empty ones.
    Step advance();

    // The signal to every group that still has members; SIGKILL forgets them all.
    void signalAll(int signal);
    void killAll();
    // Whether any group still has members.
    bool anyLeft();

private:
    struct Group {
        pid_t id = 0;
        Clock::time_point due;
        bool terminated = false; // SIGTERM sent: SIGKILL is due next
    };
    // Forgets the groups nobody is left in. Under the lock.
    void forgetEmpty();

    const std::chrono::milliseconds m_timeLimit;
    const std::chrono::milliseconds m_killDelay;
    std::mutex m_mutex;
    std::vector<Group> m_groups;
};
