#include "app/scancommand.h"

#include "app/headlessrun.h"
#include "platform/log.h"
#include "scan/scanprogresstext.h"

#include <QCoreApplication>
#include <QTimer>

#include <unistd.h>

namespace {

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

} // namespace

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
