#include "app/headlesscommands.h"

#include "app/quitsignals.h"
#include "controller/mainviewcontroller.h"
#include "history/changesexport.h"
#include "history/devicewatch.h"
#include "model/deviceexport.h"
#include "platform/log.h"
#include "platform/mainqueue.h"
#include "scan/scanprogresstext.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSaveFile>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

std::atomic<int> signalStatus{0};

std::shared_ptr<MainViewController> headlessController(const Command &command)
{
    auto controller = std::make_shared<MainViewController>(command.broadcastAddress, systemResolver());
    controller->setReplyPort(command.replyPort);
    const bool keepsHistory = !command.noHistory
                              && (command.kind == Command::Kind::Discover || command.kind == Command::Kind::Scan
                                  || command.kind == Command::Kind::Watch);
    controller->setHistoryFile(keepsHistory ? DeviceHistory::defaultPath() : QString());
    controller->setRunFinishedHandler([](const MainViewController::FinishedRun &) { QCoreApplication::quit(); });
    return controller;
}

// Bytes to standard output, as they are.
void writeOut(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
}

void print(const DeviceList &devices, OutputFormat format, bool oneDevice)
{
    QByteArray out;
    switch (format) {
    case OutputFormat::Json:
        out = devicesAsJson(devices);
        break;
    case OutputFormat::Csv:
        out = devicesAsCsv(devices);
        break;
    case OutputFormat::Text:
        out = (oneDevice ? devicesAsKeyValues(devices) : devicesAsTextTable(devices)).toUtf8();
        break;
    }
    writeOut(out);
}

// The run's devices, or with --changes what changed against the history.
void printRun(const MainViewController &controller, const Command &command)
{
    if (!command.changes) {
        print(controller.devices(), command.format, false);
        return;
    }
    const DeviceChanges &changes = controller.latestChanges();
    writeOut(command.format == OutputFormat::Json  ? changesAsJson(changes)
          : command.format == OutputFormat::Csv ? changesAsCsv(changes)
                                                : changesAsTextTable(changes).toUtf8());
}

// The discovery report as JSON into the file, or on standard error for "-"; one line on
// standard error when it cannot be written.
bool writeReport(const DiscoveryReport &report, const QString &path)
{
    const QByteArray json = report.toJson();
    if (path == u"-")
        return std::fwrite(json.constData(), 1, std::size_t(json.size()), stderr) == std::size_t(json.size());
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
// the run's end still sets the status; a second one leaves at once. Between the runs of
// watch, a signal ends the command.
void stopOnQuitSignals(const std::shared_ptr<MainViewController> &controller)
{
    watchQuitSignals([weak = std::weak_ptr(controller)](int signal, int count) {
        if (count > 1)
            std::_Exit(128 + signal);
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
    QCoreApplication::exec();
    printRun(*controller, command);
    if (!command.reportFile.isEmpty() && controller->latestReport())
        return writeReport(*controller->latestReport(), command.reportFile) ? 0 : 1;
    return 0;
}

int runScanCommand(int argc, char *argv[], const Command &command)
{
    QCoreApplication app(argc, argv);
    const auto controller = headlessController(command);
    stopOnQuitSignals(controller);
    // The scan remembers the range in LastScanAddress as the window's does.
    const bool scanning =
        command.localNetworks ? controller->startLocalNetworksScan() : controller->scanRange(command.argument);
    if (!scanning)
        return 2; // the range could not be expanded, or no network scanned, as the log line said
    // Only a person at a terminal sees the count; scripts and log files get none of it.
    ScanProgressLine progressLine(*controller);
    QTimer progressTimer;
    if (isatty(STDERR_FILENO)) {
        QObject::connect(&progressTimer, &QTimer::timeout, &progressTimer, [&] { progressLine.update(); });
        progressTimer.start(200);
    }
    QCoreApplication::exec();
    if (progressTimer.isActive()) {
        progressLine.update();
        finishLogStatusLine();
    }
    printRun(*controller, command);
    return 0;
}

int runProbeCommand(int argc, char *argv[], const Command &command)
{
    QCoreApplication app(argc, argv);
    const auto controller = headlessController(command);
    controller->startProbe(command.argument);
    QCoreApplication::exec();
    print(controller->devices(), command.format, true);
    return controller->devices().isEmpty() ? 1 : 0;
}

int runWatchCommand(int argc, char *argv[], const Command &command)
{
    QCoreApplication app(argc, argv);
    const auto controller = headlessController(command);
    stopOnQuitSignals(controller);
    DeviceWatch watch = command.noHistory ? DeviceWatch() : DeviceWatch(DeviceHistory::load(DeviceHistory::defaultPath()));
    // Runs start `every` seconds apart, the next one at once when a run took longer.
    const std::chrono::seconds every(command.everySeconds);
    QTimer next;
    next.setSingleShot(true);
    QElapsedTimer sinceStart;
    QObject::connect(&next, &QTimer::timeout, &next, [&] {
        sinceStart.start();
        controller->startDiscovery();
    });
    controller->setRunFinishedHandler([&](const MainViewController::FinishedRun &run) {
        if (run.stopped || signalExitStatus() != 0) {
            QCoreApplication::quit(); // a stopped run is not judged, nor one that a signal ends
            return;
        }
        const QDateTime now = QDateTime::currentDateTimeUtc();
        for (const WatchEvent &event : watch.update(run.found))
            writeOut(watchEventLine(event, now));
        // Each line as it happens, for whatever reads it.
        std::fflush(stdout);
        next.start(std::max(std::chrono::milliseconds(0), every - std::chrono::milliseconds(sinceStart.elapsed())));
    });
    next.start(0);
    QCoreApplication::exec();
    return 0;
}
