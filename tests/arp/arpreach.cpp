// arpreach HELPER: starts the ARP helper as its child (passing on any ambient capability),
// gives up every capability of its own, waits for the helper's greeting, and then tries, as
// the plain user who started it, what a user who wants its socket would: list its
// descriptors, take them with pidfd_getfd, attach to it. Each must be refused; the same
// tries on a plain child of its own must succeed, so that a refusal says something of the
// helper (and not of, say, a ptrace policy). It also reads the helper's capabilities and
// no-new-privileges. One PASS or FAIL line each; status 0 when all pass.
#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

int failures = 0;

void check(bool passed, const std::string &what)
{
    std::printf("%s: %s\n", passed ? "PASS" : "FAIL", what.c_str());
    failures += passed ? 0 : 1;
}

struct Reach {
    bool descriptors = false;
    bool socket = false;
    bool attach = false;
};

// What this process may do to `pid`.
Reach reach(pid_t pid)
{
    Reach result;
    if (DIR *folder = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
        result.descriptors = readdir(folder) != nullptr;
        closedir(folder);
    }
    if (const int process = int(syscall(SYS_pidfd_open, pid, 0)); process >= 0) {
        for (int descriptor = 0; descriptor < 16 && !result.socket; ++descriptor) {
            const int taken = int(syscall(SYS_pidfd_getfd, process, descriptor, 0));
            if (taken >= 0) {
                result.socket = true;
                close(taken);
            }
        }
        close(process);
    }
    if (ptrace(PTRACE_SEIZE, pid, nullptr, nullptr) == 0) {
        result.attach = true;
        ptrace(PTRACE_DETACH, pid, nullptr, nullptr);
    }
    return result;
}

// The named lines of /proc/PID/status, whole.
std::string status(pid_t pid, const char *name)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(file, line);) {
        if (line.rfind(std::string(name) + ":", 0) == 0)
            return line;
    }
    return std::string(name) + ": (none)";
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: arpreach HELPER\n");
        return 2;
    }
    int input[2], output[2];
    if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0)
        return 2;
    const pid_t helper = fork();
    if (helper == 0) {
        dup2(input[0], STDIN_FILENO);
        dup2(output[1], STDOUT_FILENO);
        execl(argv[1], "devicefinder-arp", nullptr);
        _exit(127);
    }
    close(input[0]);
    close(output[1]);
    // From here a plain user: nothing inherited, nothing ambient.
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[2] = {};
    if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 || syscall(SYS_capset, &header, none) != 0) {
        std::perror("arpreach: the capabilities cannot be dropped");
        return 2;
    }

    std::string greeting;
    pollfd readable{output[0], POLLIN, 0};
    char c = 0;
    while (poll(&readable, 1, 5000) > 0 && read(output[0], &c, 1) == 1 && c != '\n')
        greeting += c;
    check(greeting == "devicefinder-arp 1", "the helper opened its socket and greeted (\"" + greeting + "\")");

    for (const char *name : {"CapInh", "CapPrm", "CapEff", "CapAmb"}) {
        const std::string line = status(helper, name);
        check(line.find_first_not_of("0\t ", std::strlen(name) + 1) == std::string::npos, "no capability: " + line);
    }
    const std::string noNewPrivileges = status(helper, "NoNewPrivs");
    check(noNewPrivileges.back() == '1', "no new privileges: " + noNewPrivileges);
    const Reach ofHelper = reach(helper);
    check(!ofHelper.descriptors, "its user cannot list the helper's descriptors");
    check(!ofHelper.socket, "...nor take its socket (pidfd_getfd)");
    check(!ofHelper.attach, "...nor attach to it (ptrace)");

    const pid_t plain = fork();
    if (plain == 0) {
        pause();
        _exit(0);
    }
    const Reach ofPlain = reach(plain);
    check(ofPlain.descriptors && ofPlain.socket && ofPlain.attach,
          "the same tries reach a plain child of the same user, so a refusal is the helper's doing");
    kill(plain, SIGKILL);
    waitpid(plain, nullptr, 0);

    // Its input's end stops it.
    close(input[1]);
    int helperStatus = 0;
    waitpid(helper, &helperStatus, 0);
    return failures == 0 ? 0 : 1;
}
