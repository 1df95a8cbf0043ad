#include "app/appdelegate.h"
#include "app/commandline.h"
#include "app/diffcommand.h"
#include "app/expandcommand.h"
#include "app/discovercommand.h"
#include "app/headlessrun.h"
#include "app/labelcommand.h"
#include "app/logcommand.h"
#include "destinations/destinationsfile.h"
#include "history/devicehistory.h"
#include "history/presencelog.h"
#include "app/output.h"
#include "app/probecommand.h"
#include "app/quitsignals.h"
#include "app/scancommand.h"
#include "app/watchcommand.h"
#include "settings/rowactions.h"
#include "platform/log.h"
#include "platform/mainqueue.h"
#include "probes/networkloop.h"
#include "ui/applicationicon.h"
#include "ui/desktopcolorscheme.h"
#include "ui/desktopnotifier.h"
#include "ui/notifieradapter.h"
#include "ui/mainview.h"
#include "ui/mainwindow.h"
#include "ui/windowpalette.h"

#include <QApplication>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A run may still be blocked in a socket or a request: the process leaves without waiting
// for it and without tearing down what its threads still use.
// Output that could not be written (a full disk, a closed pipe) fails the command, whatever
// it did, with one line saying so.
[[noreturn]] void leave(int status)
{
    const bool flushed = std::fflush(stdout) == 0;
    const int flushError = errno;
    // A signal outranks the command's own status, also one that came while this wrote.
    if (const int signalled = signalExitStatus())
        status = signalled;
    if (!flushed || std::ferror(stdout)) {
        const QString unwritten = QStringLiteral("the output could not be written");
        writeMessage(stderr, flushed ? unwritten
                                     : unwritten + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(flushError)));
        if (status == 0)
            status = 1;
    }
    std::fflush(stderr);
    std::_Exit(status);
}

[[noreturn]] void runWindow(int argc, char *argv[], const Command &command)
{
    QApplication app(argc, argv);
    // The window quits on a signal as it does when it is closed; a second one leaves at once.
    watchQuitSignals([](int signal, int count) {
        if (count > 1)
            std::_Exit(128 + signal);
        mainAsync([] { QCoreApplication::quit(); });
    });
    app.setApplicationDisplayName(QStringLiteral("Device Finder"));
    app.setDesktopFileName(QStringLiteral("org.devicefinder.DeviceFinder"));
    app.setWindowIcon(applicationIcon());
    app.setQuitOnLastWindowClosed(AppDelegate::applicationShouldTerminateAfterLastWindowClosed());

    // The window's colours follow the desktop's scheme, light until the desktop says dark.
    QApplication::setPalette(windowPalette(false));
    DesktopColorScheme scheme;
    QObject::connect(&scheme, &DesktopColorScheme::darkChanged, &app,
                     [](bool dark) { QApplication::setPalette(windowPalette(dark)); });
    scheme.start();

    MainWindow window;
    AppDelegate delegate(
        [hidden = command.hidden](MainViewController &controller) {
            auto *view = new MainView(controller);
            if (hidden)
                view->startInTray();
            return view;
        },
        command.broadcastAddress, systemResolver());
    delegate.setReplyPort(command.replyPort);
    delegate.setHistoryFile(command.noHistory ? QString() : DeviceHistory::defaultPath());
    delegate.setLabelsFile(DeviceLabels::defaultPath());
    delegate.setWindow(&window);
    window.setExportRows([&delegate] {
        const auto &controller = delegate.rootViewController();
        return controller ? MainWindow::ExportRows{controller->filteredDevices(), controller->labelOf()}
                          : MainWindow::ExportRows();
    });
    window.setArpRateChanged([&delegate](quint32 rate) {
        if (const auto &controller = delegate.rootViewController())
            controller->setArpRate(rate);
    });
    window.setSettingsImported([&delegate] {
        if (const auto &controller = delegate.rootViewController())
            controller->reloadLabels();
    });
    window.setDiscoveryReport([&delegate] {
        const auto &controller = delegate.rootViewController();
        return controller ? controller->latestReport() : std::nullopt;
    });
    // Started hidden, the window shows once the view finds no tray.
    if (!command.hidden)
        window.show();
    QMetaObject::invokeMethod(&app, [&delegate] { delegate.applicationDidFinishLaunching(); },
                              Qt::QueuedConnection);
    // Leaves from here, so that the application, the window and the controller outlive
    // every thread that may still use them.
    leave(app.exec());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setOrganizationName(QStringLiteral("devicefinder"));
    QCoreApplication::setApplicationName(QStringLiteral("devicefinder"));
    QCoreApplication::setApplicationVersion(QStringLiteral(DF_VERSION));
    installLogHandler();
    // A closed pipe shows as a write error (EPIPE), which leave() reports, not as a signal.
    std::signal(SIGPIPE, SIG_IGN);

    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const Command command = parseCommandLine(arguments);
    // Before any other thread: each inherits the blocked signals, and no child can be
    // started before the network thread's descriptors are close-on-exec.
    const bool stopsOnSignals = command.kind == Command::Kind::Window || command.kind == Command::Kind::Discover
                                || command.kind == Command::Kind::Scan || command.kind == Command::Kind::Watch;
    // A hang-up ends watch as Ctrl+C does, so that it ends its programs too.
    if (stopsOnSignals)
        blockQuitSignals(command.kind == Command::Kind::Watch);
    if (stopsOnSignals || command.kind == Command::Kind::Probe)
        NetworkLoop::instance();

    int status = 0;
    switch (command.kind) {
    case Command::Kind::Help:
        status = writeOutput(stdout, usageText().toUtf8()) ? 0 : 1;
        break;
    case Command::Kind::Version:
        status = writeOutput(stdout, QByteArrayLiteral("devicefinder " DF_VERSION "\n")) ? 0 : 1;
        break;
    case Command::Kind::UsageError:
        writeMessage(stderr, command.message);
        writeOutput(stderr, usageErrorText(command.usageOf).toUtf8());
        status = 2;
        break;
    case Command::Kind::Expand:
        status = runExpandCommand(command.argument, stdout);
        break;
    case Command::Kind::Discover:
        status = runDiscoverCommand(argc, argv, command);
        break;
    case Command::Kind::Scan:
        status = runScanCommand(argc, argv, command);
        break;
    case Command::Kind::Probe:
        status = runProbeCommand(argc, argv, command);
        break;
    case Command::Kind::Diff:
        status = runDiffCommand(command, stdout, stderr);
        break;
    case Command::Kind::Watch:
        status = runWatchCommand(argc, argv, command, [] {
            QGuiApplication::setApplicationDisplayName(QStringLiteral("Device Finder"));
            QGuiApplication::setDesktopFileName(QStringLiteral("org.devicefinder.DeviceFinder"));
            return std::make_shared<NotifierAdapter>(new DesktopNotifier(QCoreApplication::instance()));
        });
        break;
    case Command::Kind::Log:
        status = runLogCommand(command, PresenceLog::defaultPath(), DeviceLabels::defaultPath(), stdout, stderr);
        break;
    case Command::Kind::Label:
        status = runLabelCommand(command.label, DeviceLabels::defaultPath(), stdout, stderr);
        break;
    case Command::Kind::Settings:
        status = runSettingsCommand(command.settings,
                                    {DeviceLabels::defaultPath(), rowActionsPath(), DeviceHistory::defaultPath()}, stdout,
                                    stderr);
        break;
    case Command::Kind::Destinations:
        status = runDestinationsCommand(command.destinations, destinationsFilePath(), destinationsConfigFolder(),
                                        QFileInfo(DeviceHistory::defaultPath()).absolutePath(), stdout, stderr);
        break;
    case Command::Kind::Window:
        runWindow(argc, argv, command);
    }
    leave(status);
}
