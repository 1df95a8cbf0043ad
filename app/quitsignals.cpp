#include "app/quitsignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

sigset_t quitSignals()
{
    sigset_t quitSet;
    sigemptyset(&quitSet);
    sigaddset(&quitSet, SIGINT);
    sigaddset(&quitSet, SIGTERM);
    return quitSet;
}

} // namespace

void blockQuitSignals()
{
    const sigset_t quitSet = quitSignals();
    pthread_sigmask(SIG_BLOCK, &quitSet, nullptr);
}

void quitOnBlockedSignals()
{
    handleBlockedSignals([](int) { QCoreApplication::quit(); });
}

void handleBlockedSignals(std::function<void(int signal)> handler)
{
    const sigset_t quitSet = quitSignals();
    const int fd = signalfd(-1, &quitSet, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd < 0) {
        pthread_sigmask(SIG_UNBLOCK, &quitSet, nullptr);
        return;
    }
    // Lives as long as the application; the process leaves without tearing it down.
    auto *notifier = new QSocketNotifier(fd, QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [fd, handler = std::move(handler)] {
        signalfd_siginfo info;
        while (read(fd, &info, sizeof info) == sizeof info)
            handler(int(info.ssi_signo));
    });
}
