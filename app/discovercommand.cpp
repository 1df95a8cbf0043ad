#include "app/discovercommand.h"

#include "app/headlessrun.h"
#include "app/output.h"
#include "platform/wholefile.h"

#include <QCoreApplication>

namespace {

// The discovery report as JSON into the file, or on standard error for "-"; one line on
// standard error when it cannot be written.
bool writeReport(const DiscoveryReport &report, const QString &path)
{
    const QByteArray json = report.toJson();
    if (path == u"-")
        return writeOutput(stderr, json);
    const Result<> written = writeWholeFile(path, json, FileOwner::User);
    if (!written)
        writeMessage(stderr, QStringLiteral("the report could not be written to %1: %2").arg(path, written.reason()));
    return bool(written);
}

} // namespace

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
