#include "platform/programgroups.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Whether a child of this process, running or ended and not yet reaped, is in the group.
bool hasChildIn(pid_t group)
{
    siginfo_t info{};
    return ::waitid(P_PGID, id_t(group), &info, WEXITED | WNOHANG | WNOWAIT) == 0;
}

// The pid of an ended child not yet reaped, of the group or of any group; 0 when none.
pid_t endedChild(idtype_t type, pid_t group)
{
    siginfo_t info{};
    if (::waitid(type, id_t(group), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
        return 0;
    return info.si_pid;
}

void reapChild(pid_t pid)
{
    siginfo_t info{};
    while (::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG) != 0 && errno == EINTR) {
    }
}

} // namespace

void ProgramGroups::add(pid_t group)
{
    // kill() reads 0 as our own group and -1 as every process: never one of those.
    if (group <= 1)
        return;
    const std::lock_guard lock(m_mutex);
    reap();
    forgetEmpty();
    // An id in use again means its earlier group is gone: its deadline is not this one's.
    std::erase_if(m_groups, [group](const Group &known) { return known.id == group; });
    m_groups.push_back({group, Clock::now() + m_timeLimit});
}

void ProgramGroups::leaderReaped(pid_t group)
{
    const std::lock_guard lock(m_mutex);
    for (Group &known : m_groups) {
        if (known.id == group)
            known.leaderReaped = true;
    }
    reap();
    forgetEmpty();
}

ProgramGroups::Step ProgramGroups::advance()
{
    const std::lock_guard lock(m_mutex);
    reap();
    forgetEmpty();
    Step step;
    const Clock::time_point now = Clock::now();
    for (Group &group : m_groups) {
        if (group.due > now)
            continue;
        switch (group.signalsSent++) {
        case 0:
            ::kill(-group.id, SIGTERM);
            step.overTime.append(group.id);
            break;
        case 1:
            ::kill(-group.id, SIGKILL);
            break;
        default:
            group.id = 0; // forgotten below, whatever an unkillable member does
            break;
        }
        group.due = now + m_killDelay;
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
        if (signal == SIGTERM && group.signalsSent == 0) {
            group.signalsSent = 1;
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
    reap();
    forgetEmpty();
    return !m_groups.empty();
}

bool ProgramGroups::isLeft(const Group &group) const
{
    // Until its owner reaps it, the first process holds the number: no other group can
    // take it.
    return !group.leaderReaped || hasChildIn(group.id);
}

bool ProgramGroups::isUnreapedLeader(pid_t pid) const
{
    return std::any_of(m_groups.cbegin(), m_groups.cend(),
                       [pid](const Group &group) { return group.id == pid && !group.leaderReaped; });
}

void ProgramGroups::reap()
{
    // The groups' members first: a zombie of ours in a group keeps the group's number.
    for (const Group &group : m_groups) {
        while (const pid_t ended = endedChild(P_PGID, group.id)) {
            if (isUnreapedLeader(ended))
                break; // its owner's to reap; it comes first until then
            reapChild(ended);
        }
    }
    // Then whatever else was adopted: what a program started in a session of its own. A
    // child of our own group, or an unreaped first process, is its starter's to reap.
    while (const pid_t ended = endedChild(P_ALL, 0)) {
        if (isUnreapedLeader(ended) || ::getpgid(ended) == ::getpgrp())
            break;
        reapChild(ended);
    }
}

void ProgramGroups::forgetEmpty()
{
    std::erase_if(m_groups, [this](const Group &group) { return !isLeft(group); });
}
