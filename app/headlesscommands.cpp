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

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

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
        const QString text = scanProgressText(progress->probed, progress->total, m_controller.foundCount());
        if (text != m_shown)
            setLogStatusLine(text);
        m_shown = text;
    }

private:
    const MainViewController &m_controller;
    QString m_shown;
};

// SIGINT or SIGTERM stops the run as the window's Stop button does: the devices found so
// far are printed as usual, and the status is 128 plus the signal's number, as a shell
// reports a command that a signal ended. A second signal leaves at once. Call
// blockQuitSignals() before making the application object.
void stopOnQuitSignals(const std::shared_ptr<MainViewController> &controller, int &status)
{
    handleBlockedSignals([weak = std::weak_ptr(controller), &status](int signal) {
        if (status != 0)
            std::_Exit(128 + signal);
        const auto running = weak.lock();
        if (!running || !running->isRunning())
            return; // the run has ended already and its list is on its way out
        status = 128 + signal;
        running->stopRun();
    });
}

} // namespace

int runDiscoverCommand(int argc, char *argv[], const Command &command)
{
    blockQuitSignals();
    QCoreApplication app(argc, argv);
    const auto controller = headlessController(command.broadcastAddress);
    controller->setReplyPort(command.replyPort);
    int status = 0;
    stopOnQuitSignals(controller, status);
    controller->startDiscovery();
    QCoreApplication::exec();
    print(controller->devices(), command.format, false);
    return status;
}

int runScanCommand(int argc, char *argv[], const Command &command)
{
    blockQuitSignals();
    QCoreApplication app(argc, argv);
    const auto controller = headlessController(command.broadcastAddress);
    int status = 0;
    stopOnQuitSignals(controller, status);
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
    return status;
}

int runProbeCommand(int argc, char *argv[], const Command &command)
{
    QCoreApplication app(argc, argv);
    const auto controller = headlessController(command.broadcastAddress);
    // The synchronous probe waits for the main thread's merge, so it runs on the pool.
    BackgroundPool::global().async([controller, address = command.argument] {
        controller->getDeviceInfo(address, address, address, nullptr);
        mainAsync([] { QCoreApplication::quit(); });
    });
    QCoreApplication::exec();
    print(controller->devices(), command.format, true);
    return controller->devices().isEmpty() ? 1 : 0;
}
