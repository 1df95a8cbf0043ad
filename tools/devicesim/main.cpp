#include "tools/devicesim/devicefile.h"
#include "tools/devicesim/devicesim.h"
#include "tools/devicesim/sandbox.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QSocketNotifier>

#include <sys/resource.h>
#include <sys/signalfd.h>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

const char usage[] =
    "Usage:\n"
    "  devicesim [--listen ADDRESS] [--info-port N] [--gateway-port N] [--ready-file PATH] DEVICES.json\n"
    "  devicesim --list DEVICES.json     prints \"ADDRESS NAME\" for each device\n"
    "  devicesim --list-ranges DEVICES.json\n"
    "                                   prints \"FIRST LAST BEHAVIOUR\" for each range\n"
    "  devicesim --check DEVICES.json    checks the file and says what is wrong\n"
    "\n"
    "Serves the devices until SIGINT or SIGTERM. Discovery requests are heard on ADDRESS\n"
    "(default 127.255.255.255). Outside a network namespace made with ip netns, devicesim\n"
    "serves and listens on loopback addresses only.\n";

int fail(const QString &message, int status = 1)
{
    std::fprintf(stderr, "devicesim: %s\n", qPrintable(message));
    return status;
}

// Load runs serve thousands of devices, two descriptors each.
void raiseDescriptorLimit()
{
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

std::optional<quint16> portArgument(const QString &text)
{
    bool ok = false;
    const uint port = text.toUInt(&ok);
    if (!ok || port > 65535)
        return std::nullopt;
    return static_cast<quint16>(port);
}

} // namespace

int main(int argc, char *argv[])
{
    // Blocked before any thread starts, so that only the signal descriptor below sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    SimOptions options;
    options.logRequests = true;
    QString readyFile;
    QString mode;
    while (arguments.size() > 1) {
        const QString option = arguments.takeFirst();
        if (option == u"--list" || option == u"--list-ranges" || option == u"--check") {
            mode = option;
            continue;
        }
        if (arguments.size() < 2)
            return fail(QStringLiteral("%1 needs a value\n%2").arg(option, QString::fromLatin1(usage)), 2);
        const QString value = arguments.takeFirst();
        if (option == u"--listen") {
            if (!options.listenAddress.setAddress(value) || options.listenAddress.protocol() != QAbstractSocket::IPv4Protocol)
                return fail(QStringLiteral("--listen takes an IPv4 address, not \"%1\"").arg(value), 2);
        } else if (option == u"--info-port" || option == u"--gateway-port") {
            const auto port = portArgument(value);
            if (!port)
                return fail(QStringLiteral("%1 takes a port from 0 to 65535").arg(option), 2);
            (option == u"--info-port" ? options.infoPort : options.gatewayPort) = *port;
        } else if (option == u"--ready-file") {
            readyFile = value;
        } else {
            return fail(QStringLiteral("unknown option %1\n%2").arg(option, QString::fromLatin1(usage)), 2);
        }
    }
    if (arguments.size() != 1 || arguments.first().startsWith(u"-"))
        return fail(QString::fromLatin1(usage), 2);

    QString error;
    const auto file = loadDeviceFile(arguments.first(), &error);
    if (!file)
        return fail(error);
    const QList<DeviceProfile> *devices = &file->devices;
    if (mode == u"--check")
        return 0;
    if (mode == u"--list") {
        for (const DeviceProfile &device : *devices)
            std::printf("%s %s\n", qPrintable(device.address.toString()), qPrintable(device.name));
        return 0;
    }
    if (mode == u"--list-ranges") {
        for (const RangeProfile &range : file->ranges) {
            std::printf("%s %s %s\n", qPrintable(QHostAddress(range.first).toString()),
                        qPrintable(QHostAddress(range.last).toString()),
                        range.behaviour == RangeProfile::Behaviour::Silent ? "silent" : "refuse");
        }
        return 0;
    }

    if (!inNamedNetworkNamespace()) {
        if (!options.listenAddress.isLoopback())
            return fail(QStringLiteral("refusing to hear broadcasts on %1 outside a network namespace made with ip netns")
                            .arg(options.listenAddress.toString()));
        for (const DeviceProfile &device : *devices) {
            if (!device.address.isLoopback())
                return fail(QStringLiteral("refusing to serve %1 outside a network namespace made with ip netns")
                                .arg(device.address.toString()));
            if (!device.udpFrom.isNull() && !device.udpFrom.isLoopback())
                return fail(QStringLiteral("refusing to send from %1 outside a network namespace made with ip netns")
                                .arg(device.udpFrom.toString()));
        }
        for (const RangeProfile &range : file->ranges) {
            // A range is contiguous: both ends in 127.0.0.0/8 keep all of it there.
            if (!QHostAddress(range.first).isLoopback() || !QHostAddress(range.last).isLoopback())
                return fail(QStringLiteral("refusing to serve %1 outside a network namespace made with ip netns")
                                .arg(range.text));
        }
    }

    raiseDescriptorLimit();
    DeviceSim sim(*devices, file->ranges, options);
    if (!sim.start(&error))
        return fail(error);

    const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (signalFd < 0)
        return fail(QStringLiteral("signalfd failed"));
    QSocketNotifier stopNotifier(signalFd, QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);

    std::fprintf(stderr, "devicesim: %lld devices and %lld ranges ready, discovery requests heard on %s ports %u and %u\n",
                 static_cast<long long>(devices->size()), static_cast<long long>(file->ranges.size()), qPrintable(options.listenAddress.toString()),
                 sim.infoPort(), sim.gatewayPort());
    if (!readyFile.isEmpty()) {
        QSaveFile ready(readyFile);
        if (!ready.open(QIODevice::WriteOnly) || ready.write("ready\n") < 0 || !ready.commit())
            return fail(QStringLiteral("cannot write %1").arg(readyFile));
    }
    const int status = app.exec();
    sim.stop();
    close(signalFd);
    return status;
}
