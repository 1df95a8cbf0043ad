#include "app/headlesscommands.h"

#include "app/output.h"
#include "app/quitsignals.h"
#include "controller/mainviewcontroller.h"
#include "history/changenotice.h"
#include "history/changesexport.h"
#include "history/devicewatch.h"
#include "history/watchenvironment.h"
#include "history/watchmetrics.h"
#include "model/deviceexport.h"
#include "platform/addresstext.h"
#include "platform/log.h"
#include "platform/mainqueue.h"
#include "platform/programqueue.h"
#include "scan/scanprogresstext.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <unistd.h>

namespace {

std::atomic<int> signalStatus{0};

std::shared_ptr<MainViewController> headlessController(const Command &command)
{
    auto controller = std::make_shared<MainViewController>(command.broadcastAddress, systemResolver());
    controller->setReplyPort(command.replyPort);
    controller->setArpRate(command.arpRate);
    const bool keepsHistory = !command.noHistory
                              && (command.kind == Command::Kind::Discover || command.kind == Command::Kind::Scan
                                  || command.kind == Command::Kind::Watch);
    controller->setHistoryFile(keepsHistory ? DeviceHistory::defaultPath() : QString());
    // The user's data, not history: read with --no-history too.
    controller->setLabelsFile(DeviceLabels::defaultPath());
    return controller;
}

void print(const DeviceList &devices, const LabelOf &labelOf, OutputFormat format, bool oneDevice)
{
    QByteArray out;
    switch (format) {
    case OutputFormat::Json:
        out = devicesAsJson(devices, labelOf);
        break;
    case OutputFormat::Csv:
        out = devicesAsCsv(devices, labelOf);
        break;
    case OutputFormat::Text:
        out = (oneDevice ? devicesAsKeyValues(devices, labelOf) : devicesAsTextTable(devices, labelOf)).toUtf8();
        break;
    }
    writeOutput(stdout, out);
}

// The run's devices, or with --changes what changed against the history.
void printRun(const MainViewController &controller, const Command &command)
{
    const LabelOf labelOf = controller.labelOf();
    if (!command.changes) {
        print(controller.devices(), labelOf, command.format, false);
        return;
    }
    if (!controller.historyProblem().isEmpty()) {
        std::fprintf(stderr, "devicefinder: nothing to compare with: %s\n", qPrintable(controller.historyProblem()));
        return;
    }
    const DeviceChanges &changes = controller.latestChanges();
    writeOutput(stdout, command.format == OutputFormat::Json  ? changesAsJson(changes, labelOf)
                        : command.format == OutputFormat::Csv ? changesAsCsv(changes, labelOf)
                                                              : changesAsTextTable(changes, labelOf).toUtf8());
}

// Turns the event loop until the run in progress ends, and tells how it ended.
MainViewController::FinishedRun waitForRun(MainViewController &controller)
{
    MainViewController::FinishedRun finished;
    controller.setRunFinishedHandler([&](const MainViewController::FinishedRun &run) {
        finished = run;
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    return finished;
}

// A ranges file is read whole, up to this size: some 100,000 lines of ranges.
constexpr qint64 maxRangesFileBytes = 4 << 20;

// The ranges of scan's or watch's command line: its operands, or the lines of the
// --ranges-from file. Nothing, after one line on standard error, when they cannot be read.
std::optional<RangeList> commandLineRanges(const Command &command)
{
    const char *name = command.kind == Command::Kind::Watch ? "watch" : "scan";
    RangeListResult built;
    if (command.rangesFile.isEmpty()) {
        built = rangeListFromTexts(command.ranges);
    } else {
        const bool standardInput = command.rangesFile == u"-";
        QFile file(command.rangesFile);
        const bool opened = standardInput ? file.open(stdin, QIODevice::ReadOnly) : file.open(QIODevice::ReadOnly);
        const QByteArray text = opened ? file.read(maxRangesFileBytes + 1) : QByteArray();
        const QString fileName = standardInput ? QStringLiteral("standard input") : command.rangesFile;
        if (!opened || file.error() != QFileDevice::NoError) {
            std::fprintf(stderr, "devicefinder: %s: %s cannot be read: %s\n", name, qPrintable(fileName),
                         qPrintable(file.errorString()));
            return std::nullopt;
        }
        if (text.size() > maxRangesFileBytes) {
            std::fprintf(stderr, "devicefinder: %s: %s is larger than 4 MiB\n", name, qPrintable(fileName));
            return std::nullopt;
        }
        built = rangeListFromLines(QString::fromUtf8(text));
        if (!built.ranges)
            built.error = fileName + QStringLiteral(", ") + built.error;
    }
    if (!built.ranges)
        std::fprintf(stderr, "devicefinder: %s: %s\n", name, qPrintable(terminalText(built.error)));
    return std::move(built.ranges);
}

// One line on standard error for a run that could ask nothing ("device" or "address").
bool saidFailed(const MainViewController::FinishedRun &run, const char *what)
{
    if (run.failure.isEmpty())
        return false;
    std::fprintf(stderr, "devicefinder: no %s could be asked: %s\n", what, qPrintable(run.failure));
    return true;
}

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

// The discovery report as JSON into the file, or on standard error for "-"; one line on
// standard error when it cannot be written.
bool writeReport(const DiscoveryReport &report, const QString &path)
{
    const QByteArray json = report.toJson();
    if (path == u"-")
        return writeOutput(stderr, json);
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(json) == json.size() && file.commit())
        return true;
    std::fprintf(stderr, "devicefinder: the report could not be written to %s: %s\n", qPrintable(path),
                 qPrintable(file.errorString()));
    return false;
}

// The scan's count on a terminal's standard error, one line rewritten in place; each text
// is shown once, so the final count appears exactly once.
class ScanProgressLine final {
public:
    explicit ScanProgressLine(const MainViewController &controller) : m_controller(controller) {}

    void update()
    {
        const auto progress = m_controller.scanProgress();
        if (!progress)
            return;
        const QString text = scanProgressText(progress->probed, progress->total, progress->found);
        if (text != m_shown)
            setLogStatusLine(text);
        m_shown = text;
    }

private:
    const MainViewController &m_controller;
    QString m_shown;
};

// SIGINT or SIGTERM stops the run as the window's Stop button does: the devices found so
// far are printed as usual, and the status is 128 plus the signal's number. A signal after
// the run's end still sets the status; a second one leaves at once, after `atOnce` (any
// thread). Between the runs of watch, a signal ends the command.
void stopOnQuitSignals(const std::shared_ptr<MainViewController> &controller, std::function<void()> atOnce = {})
{
    watchQuitSignals([weak = std::weak_ptr(controller), atOnce = std::move(atOnce)](int signal, int count) {
        if (count > 1) {
            if (atOnce)
                atOnce();
            std::_Exit(128 + signal);
        }
        signalStatus = 128 + signal;
        mainAsync([weak] {
            if (const auto running = weak.lock(); running && running->isRunning())
                running->stopRun();
            else
                QCoreApplication::quit();
        });
    });
}

} // namespace

int signalExitStatus()
{
    return signalStatus;
}

int runDiscoverCommand(int argc, char *argv[], const Command &command)
{
    QCoreApplication app(argc, argv);
    const auto controller = headlessController(command);
    stopOnQuitSignals(controller);
    controller->startDiscovery();
    const MainViewController::FinishedRun run = waitForRun(*controller);
    // A run that could ask nothing has no list to print; its report says what went wrong.
    const bool failed = saidFailed(run, "device");
    if (!failed)
        printRun(*controller, command);
    const bool reported = command.reportFile.isEmpty() || !controller->latestReport()
                          || writeReport(*controller->latestReport(), command.reportFile);
    return failed || !reported ? 1 : 0;
}

int runScanCommand(int argc, char *argv[], const Command &command)
{
    QCoreApplication app(argc, argv);
    const auto controller = headlessController(command);
    stopOnQuitSignals(controller);
    // One range is remembered in LastScanAddress as the window's is; several are not.
    bool scanning = false;
    if (command.localNetworks) {
        scanning = controller->startLocalNetworksScan();
    } else if (command.ranges.size() == 1) {
        scanning = controller->scanRange(command.ranges.first());
    } else {
        std::optional<RangeList> ranges = commandLineRanges(command);
        scanning = ranges && controller->scanRanges(*std::move(ranges));
    }
    if (!scanning)
        return 2; // the ranges could not be expanded, or no network scanned, as the line said
    // Only a person at a terminal sees the count; scripts and log files get none of it.
    ScanProgressLine progressLine(*controller);
    QTimer progressTimer;
    if (isatty(STDERR_FILENO)) {
        QObject::connect(&progressTimer, &QTimer::timeout, &progressTimer, [&] { progressLine.update(); });
        progressTimer.start(200);
    }
    const MainViewController::FinishedRun run = waitForRun(*controller);
    if (progressTimer.isActive()) {
        progressLine.update();
        finishLogStatusLine();
    }
    if (saidFailed(run, "address"))
        return 1;
    printRun(*controller, command);
    return 0;
}

int runProbeCommand(int argc, char *argv[], const Command &command)
{
    QCoreApplication app(argc, argv);
    const auto controller = headlessController(command);
    controller->startProbe(command.probeAddress);
    waitForRun(*controller);
    print(controller->devices(), controller->labelOf(), command.format, true);
    return controller->devices().isEmpty() ? 1 : 0;
}

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
        std::fprintf(stderr, "devicefinder: no device could be asked: no network of this computer to scan\n");
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
        if ((command.watchesRanges() && !ranges) || !controller->startWatchRound({discovers, ranges, known}))
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
