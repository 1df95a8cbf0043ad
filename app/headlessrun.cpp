#include "app/headlessrun.h"

#include "app/output.h"
#include "app/quitsignals.h"
#include "history/changesexport.h"
#include "model/deviceexport.h"
#include "platform/mainqueue.h"
#include "platform/sitename.h"

#include <QCoreApplication>
#include <QFile>

#include <atomic>
#include <cstdlib>

namespace {

std::atomic<int> signalStatus{0};

// A ranges file is read whole, up to this size: some 100,000 lines of ranges.
constexpr qint64 maxRangesFileBytes = 4 << 20;

} // namespace

std::shared_ptr<MainViewController> headlessController(const Command &command)
{
    auto controller = std::make_shared<MainViewController>(command.broadcastAddress, systemResolver());
    controller->setReplyPort(command.replyPort);
    controller->setArpRate(command.arpRate);
    const bool keepsHistory = !command.noHistory
                              && (command.kind == Command::Kind::Discover || command.kind == Command::Kind::Scan
                                  || command.kind == Command::Kind::Watch);
    controller->setHistoryFile(keepsHistory ? DeviceHistory::defaultPath() : QString());
    controller->setRunSource(MainViewController::RunSource::Command);
    controller->setSiteName(command.site.isEmpty() ? storedSiteName() : command.site);
    // The user's data, not history: read with --no-history too.
    controller->setLabelsFile(DeviceLabels::defaultPath());
    return controller;
}

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

void printDevices(const DeviceList &devices, const LabelOf &labelOf, OutputFormat format, bool oneDevice)
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

void printRun(const MainViewController &controller, const Command &command)
{
    const LabelOf labelOf = controller.labelOf();
    if (!command.changes) {
        printDevices(controller.devices(), labelOf, command.format, false);
        return;
    }
    if (!controller.historyProblem().isEmpty()) {
        writeMessage(stderr, QStringLiteral("nothing to compare with: ") + controller.historyProblem());
        return;
    }
    const DeviceChanges &changes = controller.latestChanges();
    writeOutput(stdout, command.format == OutputFormat::Json  ? changesAsJson(changes, labelOf)
                        : command.format == OutputFormat::Csv ? changesAsCsv(changes, labelOf)
                                                              : changesAsTextTable(changes, labelOf).toUtf8());
}

bool saidFailed(const MainViewController::FinishedRun &run, const char *what)
{
    if (run.failure.isEmpty())
        return false;
    writeMessage(stderr, QStringLiteral("no %1 could be asked: %2").arg(QLatin1StringView(what), run.failure));
    return true;
}

std::optional<RangeList> commandLineRanges(const Command &command)
{
    const QString said = command.kind == Command::Kind::Watch ? QStringLiteral("watch: ") : QStringLiteral("scan: ");
    RangeListResult built = Failure{};
    if (command.rangesFile.isEmpty()) {
        built = rangeListFromTexts(command.ranges);
    } else {
        const bool standardInput = command.rangesFile == u"-";
        QFile file(command.rangesFile);
        const bool opened = standardInput ? file.open(stdin, QIODevice::ReadOnly) : file.open(QIODevice::ReadOnly);
        const QByteArray text = opened ? file.read(maxRangesFileBytes + 1) : QByteArray();
        const QString name = standardInput ? QStringLiteral("standard input") : command.rangesFile;
        if (!opened || file.error() != QFileDevice::NoError) {
            writeMessage(stderr, said + QStringLiteral("%1 cannot be read: %2").arg(name, file.errorString()));
            return std::nullopt;
        }
        if (text.size() > maxRangesFileBytes) {
            writeMessage(stderr, said + QStringLiteral("%1 is larger than 4 MiB").arg(name));
            return std::nullopt;
        }
        built = rangeListFromLines(QString::fromUtf8(text));
        if (!built)
            built = Failure{name + QStringLiteral(", ") + built.reason()};
    }
    if (!built) {
        writeMessage(stderr, said + built.reason());
        return std::nullopt;
    }
    return *std::move(built);
}

void stopOnQuitSignals(const std::shared_ptr<MainViewController> &controller, std::function<void()> atOnce)
{
    watchQuitSignals([weak = std::weak_ptr(controller), atOnce = std::move(atOnce)](int signal, int count) {
        signalStatus = 128 + signal;
        if (count > 1) {
            // Set first: the main thread, whose wait atOnce() may end, leaves with it too.
            if (atOnce)
                atOnce();
            std::_Exit(128 + signal);
        }
        mainAsync([weak] {
            if (const auto running = weak.lock(); running && running->isRunning())
                running->stopRun();
            else
                QCoreApplication::quit();
        });
    });
}

int signalExitStatus()
{
    return signalStatus;
}
