// arpreach HELPER: starts the helper as its child (handing on an ambient capability), drops
// its own capabilities, and once the helper has greeted checks its state and tries what a
// user who wants its socket would; a plain child of its own must let the same tries through.
#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

int failures = 0;

void check(bool passed, const std::string &what)
{
    std::printf("%s: %s\n", passed ? "PASS" : "FAIL", what.c_str());
    failures += !passed;
}

// Lists its descriptors, takes one (pidfd_getfd), attaches (ptrace): how many of the three.
int reach(pid_t pid)
{
    int reached = 0;
    if (DIR *folder = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str()))
        reached += readdir(folder) != nullptr, closedir(folder);
    const int process = int(syscall(SYS_pidfd_open, pid, 0));
    for (int descriptor = 0, taken; descriptor < 8; ++descriptor) {
        if ((taken = int(syscall(SYS_pidfd_getfd, process, descriptor, 0))) >= 0) {
            ++reached, close(taken);
            break;
        }
    }
    close(process);
    if (ptrace(PTRACE_SEIZE, pid, nullptr, nullptr) == 0)
        ++reached, ptrace(PTRACE_DETACH, pid, nullptr, nullptr);
    return reached;
}

} // namespace

int main(int, char **argv)
{
    int input[2], output[2];
    pipe2(input, O_CLOEXEC), pipe2(output, O_CLOEXEC);
    const pid_t helper = fork();
    if (helper == 0) {
        dup2(input[0], STDIN_FILENO), dup2(output[1], STDOUT_FILENO);
        _exit(execl(argv[1], "devicefinder-arp", nullptr));
    }
    close(output[1]);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[2] = {};
    if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 || syscall(SYS_capset, &header, none) != 0)
        return 2;

    char greeting[19] = {};
    check(read(output[0], greeting, 18) == 18 && std::string(greeting) == "devicefinder-arp 1", "it greets");
    std::ifstream status("/proc/" + std::to_string(helper) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Cap", 0) == 0 && line.rfind("CapBnd", 0) != 0)
            check(line.find_first_not_of("0\t ", 7) == std::string::npos, "no capability: " + line);
        if (line.rfind("NoNewPrivs", 0) == 0)
            check(line.back() == '1', line);
    }
    check(reach(helper) == 0, "its user can neither list its descriptors, take its socket nor attach to it");
    const pid_t plain = fork();
    if (plain == 0)
        pause();
    check(reach(plain) == 3, "...as it can a plain process of its own");
    kill(plain, SIGKILL), kill(helper, SIGKILL);
    return failures == 0 ? 0 : 1;
}
