#include "app/quitsignals.h"

#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <thread>

namespace {

// Set once, on the main thread, before any other thread starts.
sigset_t quitSet;

} // namespace

void blockQuitSignals(bool hangUp)
{
    sigemptyset(&quitSet);
    sigaddset(&quitSet, SIGINT);
    sigaddset(&quitSet, SIGTERM);
    // A blocked signal is kept even when ignored, so nohup's ignored SIGHUP would end us.
    struct sigaction hangUpAction = {};
    if (hangUp && sigaction(SIGHUP, nullptr, &hangUpAction) == 0 && hangUpAction.sa_handler != SIG_IGN)
        sigaddset(&quitSet, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &quitSet, nullptr);
}

void watchQuitSignals(std::function<void(int signal, int count)> handler)
{
    const int fd = signalfd(-1, &quitSet, SFD_CLOEXEC);
    if (fd < 0) {
        pthread_sigmask(SIG_UNBLOCK, &quitSet, nullptr);
        return;
    }
    // Blocks in its read for as long as the process lives; the process leaves without
    // joining it.
    std::thread watcher([fd, handler = std::move(handler)] {
        pthread_setname_np(pthread_self(), "signals");
        int count = 0;
        for (;;) {
            signalfd_siginfo info;
            const ssize_t got = read(fd, &info, sizeof info);
            if (got == sizeof info)
                handler(int(info.ssi_signo), ++count);
            else if (got >= 0 || errno != EINTR)
                return;
        }
    });
    watcher.detach();
}
