#pragma once

#include "arp/arpanswers.h"

#include <QString>

#include <deque>
#include <string>
#include <sys/types.h>

// The ARP helper (devicefinder-arp) as a child process: started with its whole input,
// which goes down its input as that takes it, its answers read a line at a time, and
// ended by closing its input, then killing it. Its descriptors are non-blocking and
// close-on-exec. One thread: the one that starts it, since the helper dies with that thread.
class ArpHelperProcess final {
public:
    // The helper to run: DEVICEFINDER_ARP_HELPER when set (empty: none), else the one beside
    // the running program, else the one in the installed library folder; empty when none.
    static QString find();

    // Starts `program`; false with why when it cannot be started.
    bool start(const QString &program, std::string input, QString *why);
    int inputDescriptor() const { return m_input; }
    int outputDescriptor() const { return m_output; }

    enum class Status { Open, Ended, Failed };
    // Writes what the pipe takes of the input; hasUnwritten() while some is left.
    Status write();
    bool hasUnwritten() const { return !m_unwritten.empty(); }
    // Reads answers into `answers`, at most `room`; Ended once the helper closed its output;
    // Failed for a line that is no answer.
    Status read(std::deque<ArpAnswer> &answers, std::size_t room);
    // Once its output ended: waits for the helper's exit, and says how it exited, with the
    // line it wrote to standard error.
    QString exitReason(ArpExit *code);

    ArpHelperProcess() = default;
    ArpHelperProcess(const ArpHelperProcess &) = delete;
    ArpHelperProcess &operator=(const ArpHelperProcess &) = delete;
    // Closes its input, then kills it if it has not ended, and reaps it.
    ~ArpHelperProcess();

private:
    pid_t m_pid = -1;
    int m_input = -1;
    int m_output = -1;
    int m_errors = -1;
    std::string m_unwritten;
    std::string m_partial; // an answer's line read in part
};
