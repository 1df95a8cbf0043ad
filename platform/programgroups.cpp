#include "platform/programgroups.h"

#include <algorithm>
#include <cerrno>
#include <csignal>

namespace {

// Whether anybody is left in the group. A member we may not signal is still a member.
bool hasMembers(pid_t group)
{
    return ::kill(-group, 0) == 0 || errno != ESRCH;
}

} // namespace

void ProgramGroups::add(pid_t group)
{
    // kill() reads 0 as our own group and -1 as every process: never one of those.
    if (group <= 1)
        return;
    const std::lock_guard lock(m_mutex);
    forgetEmpty();
    // An id in use again means its earlier group is gone: its deadline is not this one's.
    std::erase_if(m_groups, [group](const Group &known) { return known.id == group; });
    m_groups.push_back({group, Clock::now() + m_timeLimit, false});
}

ProgramGroups::Step ProgramGroups::advance()
{
    const std::lock_guard lock(m_mutex);
    forgetEmpty();
    Step step;
    const Clock::time_point now = Clock::now();
    for (Group &group : m_groups) {
        if (group.due > now)
            continue;
        if (group.terminated) {
            ::kill(-group.id, SIGKILL);
            group.id = 0; // forgotten below
            continue;
        }
        ::kill(-group.id, SIGTERM);
        group.terminated = true;
        group.due = now + m_killDelay;
        step.overTime.append(group.id);
    }
    std::erase_if(m_groups, [](const Group &group) { return group.id == 0; });
    for (const Group &group : m_groups)
        step.next = std::min(step.next.value_or(group.due), group.due);
    return step;
}

void ProgramGroups::signalAll(int signal)
{
    const std::lock_guard lock(m_mutex);
    forgetEmpty();
    for (Group &group : m_groups) {
        ::kill(-group.id, signal);
        if (signal == SIGTERM && !group.terminated) {
            group.terminated = true;
            group.due = Clock::now() + m_killDelay;
        }
    }
    if (signal == SIGKILL)
        m_groups.clear();
}

void ProgramGroups::killAll()
{
    signalAll(SIGKILL);
}

bool ProgramGroups::anyLeft()
{
    const std::lock_guard lock(m_mutex);
    forgetEmpty();
    return !m_groups.empty();
}

void ProgramGroups::forgetEmpty()
{
    std::erase_if(m_groups, [](const Group &group) { return !hasMembers(group.id); });
}
