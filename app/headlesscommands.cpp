#include "app/headlesscommands.h"

#include "app/plaintextfield.h"
#include "model/deviceexport.h"
#include "model/mainviewcontroller.h"
#include "platform/backgroundpool.h"
#include "platform/mainqueue.h"
#include "platform/preferences.h"

#include <QCoreApplication>

#include <cstdio>

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

} // namespace

int runDiscoverCommand(int argc, char *argv[], const Command &command)
{
    QCoreApplication app(argc, argv);
    const auto controller = headlessController(command.broadcastAddress);
    controller->startDiscovery();
    QCoreApplication::exec();
    print(controller->devices(), command.format, false);
    return 0;
}

int runScanCommand(int argc, char *argv[], const Command &command)
{
    QCoreApplication app(argc, argv);
    const auto controller = headlessController(command.broadcastAddress);
    // The range goes where the window's range text box would hold it; the scan remembers it
    // in LastScanAddress as the window's does.
    const auto rangeField = std::make_shared<PlainTextField>(command.argument);
    controller->setIpRangeTextBox(rangeField);
    controller->startIPRangeScan();
    if (!controller->discovering())
        return 2; // the range could not be expanded, as the log line said
    QCoreApplication::exec();
    print(controller->devices(), command.format, false);
    return 0;
}

int runProbeCommand(int argc, char *argv[], const Command &command)
{
    QCoreApplication app(argc, argv);
    const auto controller = headlessController(command.broadcastAddress);
    // The synchronous probe waits for the main thread's merge, so it runs on the pool.
    BackgroundPool::global().async([controller, address = command.argument] {
        controller->getDeviceInfo(address, address, address);
        mainAsync([] { QCoreApplication::quit(); });
    });
    QCoreApplication::exec();
    print(controller->devices(), command.format, true);
    return controller->devices().isEmpty() ? 1 : 0;
}
