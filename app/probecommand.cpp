#include "app/probecommand.h"

#include "app/headlessrun.h"

#include <QCoreApplication>

int runProbeCommand(int argc, char *argv[], const Command &command)
{
    QCoreApplication app(argc, argv);
    const auto controller = headlessController(command);
    controller->startProbe(command.probeAddress);
    waitForRun(*controller);
    printDevices(controller->devices(), controller->labelOf(), command.format, true);
    return controller->devices().isEmpty() ? 1 : 0;
}
