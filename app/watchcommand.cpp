#include "app/watchcommand.h"

#include "app/headlessrun.h"
#include "app/output.h"
#include "history/changenotice.h"
#include "history/devicewatch.h"
#include "history/watchenvironment.h"
#include "history/watchmetrics.h"
#include "platform/addresstext.h"
#include "platform/log.h"
#include "platform/programqueue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <unistd.h>

namespace {

// Whether standard output has lost its reader: a pipe whose reader has gone reports an
// error, a terminal that has gone a hang-up, even while nothing is written.
bool outputHasNoReader()
{
    pollfd output{STDOUT_FILENO, 0, 0};
    return poll(&output, 1, 0) == 1 && (output.revents & (POLLERR | POLLHUP));
}

// Ends the program as a closed pipe ends a writer that does not ignore SIGPIPE: quietly.
[[noreturn]] void endForClosedOutput()
{
    std::signal(SIGPIPE, SIG_DFL);
    std::raise(SIGPIPE);
    std::_Exit(128 + SIGPIPE);
}

} // namespace

int runWatchCommand(int argc, char *argv[], const Command &command,
                    const std::function<std::shared_ptr<ChangeNotifier>()> &notifier)
{
    QCoreApplication app(argc, argv);
    const auto controller = headlessController(command);
    // Without a notification service it says so once, and watch goes on.
    const std::shared_ptr<ChangeNotifier> notices = command.notify && notifier ? notifier() : nullptr;
    // With "-- PROGRAM", each event also runs the program, one at a time in event order.
    std::unique_ptr<ProgramQueue> programs =
        command.program.isEmpty() ? nullptr : std::make_unique<ProgramQueue>(command.program);
    // Whatever our programs left running ends with us, also when a second signal leaves at
    // once: the queue's end, which waits for them, is cut short by killing them.
    stopOnQuitSignals(controller, programs ? programs->killer() : std::function<void()>());
    // Ranges given or read from a file are expanded once, before anything is asked.
    std::shared_ptr<const RangeList> ranges;
    if (!command.ranges.isEmpty() || !command.rangesFile.isEmpty()) {
        std::optional<RangeList> read = commandLineRanges(command);
        if (!read)
            return 2;
        ranges = std::make_shared<const RangeList>(*std::move(read));
    }
    // The computer's own networks are read again each round; a change is said once.
    QStringList localRanges;
    const auto readLocalNetworks = [&] {
        QStringList taken;
        RangeList read = controller->localNetworkRanges(false, &taken);
        for (const QString &range : std::as_const(taken))
            if (!localRanges.contains(range))
                logLine(lcApp, "Watching %@ from now on: a network of this computer", range);
        for (const QString &range : std::as_const(localRanges))
            if (!taken.contains(range))
                logLine(lcApp, "No longer watching %@: this computer is not on it now", range);
        localRanges = taken;
        ranges = read.isEmpty() ? nullptr : std::make_shared<const RangeList>(std::move(read));
    };
    if (command.localNetworks)
        readLocalNetworks();
    // What a round asks: everyone the broadcasts reach, or the devices last seen in the ranges.
    const auto rangesScope = [&ranges] {
        RunScope scope;
        scope.covers = [ranges](const QString &text) { return ranges && ranges->contains(addressFromText(text)); };
        return scope;
    };
    const bool discovers = command.discover || !command.watchesRanges();
    const LoadedHistory history = command.noHistory ? LoadedHistory() : DeviceHistory::load(DeviceHistory::defaultPath());
    DeviceWatch watch = !history.usable                ? DeviceWatch(command.watchRule)
                        : !command.watchesRanges()     ? DeviceWatch(history.history, command.watchRule)
                                                       : DeviceWatch(history.history, rangesScope(), command.watchRule, discovers);
    // Labels and watch choices are read again at each run's end, so an edit meanwhile counts.
    watch.setWatched(controller->watchedTest());
    // A program of ours is ended with us, not left running on its own.
    const auto endForNoReader = [&programs] {
        programs.reset();
        endForClosedOutput();
    };
    // Runs start `every` seconds apart, the next one at once when a run took longer.
    const std::chrono::seconds every(command.everySeconds);
    QTimer next;
    next.setSingleShot(true);
    QElapsedTimer sinceStart;
    QString metricsProblem;
    // Until a round asks, the devices and the time are those of the history's last discovery.
    WatchRounds rounds;
    if (history.usable)
        rounds.lastAskedEnd = history.history.lastCompletedDiscovery();
    // A round that could ask nobody (no network of this computer to scan) is a failed round.
    const auto failedRound = [&] {
        writeMessage(stderr, QStringLiteral("no device could be asked: no network of this computer to scan"));
        ++rounds.failures;
        next.start(std::max(std::chrono::milliseconds(0), every - std::chrono::milliseconds(sinceStart.elapsed())));
    };
    // Nobody reading is a reason to stop broadcasting, even with nothing to write.
    QObject::connect(&next, &QTimer::timeout, &next, [&] {
        if (outputHasNoReader())
            endForNoReader();
        sinceStart.start();
        if (command.localNetworks)
            readLocalNetworks();
        const QList<std::pair<QString, QString>> known = watch.knownDevices(discovers ? RunScope() : rangesScope());
        if ((command.watchesRanges() && !ranges) || !controller->startWatchRound({discovers, ranges, known, every}))
            failedRound();
    });
    controller->setRunFinishedHandler([&](const MainViewController::FinishedRun &run) {
        if (run.stopped || signalExitStatus() != 0) {
            QCoreApplication::quit(); // a stopped run is not judged, nor one that a signal ends
            return;
        }
        // A round that could ask nothing is no news of the devices: it is tried again.
        QList<WatchEvent> events;
        const QDateTime now = QDateTime::currentDateTimeUtc();
        if (saidFailed(run, "device")) {
            ++rounds.failures;
        } else {
            events = watch.update(run.found, run.askedEveryone, now, run.scope);
            controller->logPresence(events, QStringLiteral("watch"));
            rounds.lastAskedEnd = now;
            rounds.lastAskedDuration = std::chrono::milliseconds(sinceStart.elapsed());
        }
        const LabelOf labelOf = controller->labelOf();
        if (!command.metricsFile.isEmpty()) {
            const QString problem =
                writeWatchMetrics(command.metricsFile, watchMetricsText(watch.devicesNow(), labelOf, rounds));
            // Said once, and again when it comes back after a good write.
            if (!problem.isEmpty() && problem != metricsProblem)
                logLine(lcApp, "Metrics file %@ could not be written: %@", command.metricsFile, problem);
            metricsProblem = problem;
        }
        // Each line as it happens, for whatever reads it; output that cannot be written ends
        // the command, quietly when its reader has gone.
        bool written = true;
        for (const WatchEvent &event : events)
            written = written && writeOutput(stdout, watchEventLine(event, now, labelOf));
        if (!written) {
            if (errno == EPIPE || outputHasNoReader())
                endForNoReader();
            QCoreApplication::quit();
            return;
        }
        if (const std::optional<ChangeNotice> notice = notices ? changeNotice(events, labelOf) : std::nullopt)
            notices->notify(notice->summary, notice->body, notice->plainBody);
        // The program's output follows the line it is about.
        for (const WatchEvent &event : events)
            if (programs)
                programs->enqueue({watchEventLine(event, now, labelOf),
                                   watchEventEnvironment(event, labelOf && event.device ? labelOf(*event.device) : QString())});
        next.start(std::max(std::chrono::milliseconds(0), every - std::chrono::milliseconds(sinceStart.elapsed())));
    });
    next.start(0);
    QCoreApplication::exec();
    return 0;
}
