#include "app/headlesscommands.h"

#include "app/plaintextfield.h"
#include "app/quitsignals.h"
#include "model/deviceexport.h"
#include "model/mainviewcontroller.h"
#include "model/scanprogresstext.h"
#include "platform/backgroundpool.h"
#include "platform/log.h"
#include "platform/mainqueue.h"
#include "platform/preferences.h"

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

std::atomic<int> signalStatus{0};

std::shared_ptr<MainViewController> headlessController(const QString &broadcastAddress)
{
    auto controller = std::make_shared<MainViewController>(broadcastAddress, systemResolver());
    controller->setRunFinishedHandler([] { QCoreApplication::quit(); });
    return controller;
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
    std::fwrite(out.constData(), 1, std::size_t(out.size()), stdout);
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
// the run's end still sets the status; a second one leaves at once.
void stopOnQuitSignals(const std::shared_ptr<MainViewController> &controller)
{
    watchQuitSignals([weak = std::weak_ptr(controller)](int signal, int count) {
        if (count > 1)
            std::_Exit(128 + signal);
        signalStatus = 128 + signal;
        mainAsync([weak] {
            if (const auto running = weak.lock(); running && running->isRunning())
                running->stopRun();
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
    const auto controller = headlessController(command.broadcastAddress);
    controller->setReplyPort(command.replyPort);
    stopOnQuitSignals(controller);
    controller->startDiscovery();
    QCoreApplication::exec();
    print(controller->devices(), command.format, false);
    return 0;
}

int runScanCommand(int argc, char *argv[], const Command &command)
{
    QCoreApplication app(argc, argv);
    const auto controller = headlessController(command.broadcastAddress);
    stopOnQuitSignals(controller);
    // The range goes where the window's range text box would hold it; the scan remembers it
    // in LastScanAddress as the window's does.
    const auto rangeField = std::make_shared<PlainTextField>(command.argument);
    controller->setIpRangeTextBox(rangeField);
    controller->startIPRangeScan();
    if (!controller->discovering())
        return 2; // the range could not be expanded, as the log line said
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
    print(controller->devices(), command.format, false);
    return 0;
}

int runProbeCommand(int argc, char *argv[], const Command &command)
{
    QCoreApplication app(argc, argv);
    const auto controller = headlessController(command.broadcastAddress);
    // The synchronous probe waits for the main thread's merge, so it runs on the pool.
    BackgroundPool::global().async([controller, address = command.argument] {
        controller->getDeviceInfo(address, address, address, std::make_shared<Run>(Run::Kind::Probe));
        mainAsync([] { QCoreApplication::quit(); });
    });
    QCoreApplication::exec();
    print(controller->devices(), command.format, true);
    return controller->devices().isEmpty() ? 1 : 0;
}
