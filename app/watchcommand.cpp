#include "app/watchcommand.h"

#include "app/headlessrun.h"
#include "app/jsonlinesoutput.h"
#include "watch/programoutput.h"
#include "watch/watchoutputs.h"
#include "watch/watchsession.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdlib>

namespace {

// Ends the program as a closed pipe ends a writer that does not ignore SIGPIPE: quietly.
[[noreturn]] void endForClosedOutput()
{
    std::signal(SIGPIPE, SIG_DFL);
    std::raise(SIGPIPE);
    std::_Exit(128 + SIGPIPE);
}

} // namespace

int runWatchCommand(int argc, char *argv[], const Command &command,
                    const std::function<std::shared_ptr<ChangeNotifier>()> &notifier)
{
    QCoreApplication app(argc, argv);
    const auto controller = headlessController(command);
    WatchChoices choices{.discover = command.discover || !command.watchesRanges(),
                         .every = std::chrono::seconds(command.everySeconds),
                         .rule = command.watchRule,
                         .site = controller->siteName()};
    // Ranges given or read from a file are expanded once, before anything is asked; the
    // computer's own networks are read again each round.
    if (!command.ranges.isEmpty() || !command.rangesFile.isEmpty()) {
        std::optional<RangeList> read = commandLineRanges(command);
        if (!read)
            return 2;
        choices.ranges = fixedRanges(*std::move(read), command.rangesFile.isEmpty() ? command.ranges.join(u' ') : command.rangesFile);
    } else if (command.localNetworks) {
        choices.ranges = localNetworkRanges(controller);
    }
    // Without a notification service it says so once, and watch goes on.
    const std::shared_ptr<ChangeNotifier> notices = command.notify && notifier ? notifier() : nullptr;
    auto session = std::make_unique<WatchSession>(controller, WatchFace::Command, std::move(choices));
    // Output that cannot be written ends the command, quietly when its reader has gone.
    enum class End { Quit, WriteFailed, ReaderGone } end = End::Quit;
    session->addOutput(std::make_unique<JsonLinesOutput>([&end](bool readerGone) {
        end = readerGone ? End::ReaderGone : End::WriteFailed;
        QCoreApplication::quit();
    }));
    // With "-- PROGRAM", each event also runs the program, one at a time in event order, its
    // output after the line it is about. Whatever our programs left running ends with us, also
    // when a second signal leaves at once: the queue's end, which waits for them, is cut short
    // by killing them.
    std::function<void()> killer;
    if (!command.program.isEmpty()) {
        auto programs = std::make_unique<ProgramOutput>(command.program);
        killer = programs->killer();
        session->addOutput(std::move(programs));
    }
    addSharedOutputs(*session, {notices, command.metricsFile});
    stopOnQuitSignals(controller, killer);
    // A stopped round is not judged, and ends the command, as does a signal after a round.
    const auto quitOnStop = controller->observeRunEnds([](const MainViewController::FinishedRun &run) {
        if (run.stopped || signalExitStatus() != 0)
            QCoreApplication::quit();
    });
    // Nobody reading is a reason to stop broadcasting, even with nothing to write.
    session->setBeforeEachRound([&end] {
        if (!JsonLinesOutput::readerGone())
            return true;
        end = End::ReaderGone;
        QCoreApplication::quit();
        return false;
    });
    session->start();
    QCoreApplication::exec();
    // A program of ours is ended with us, not left running on its own.
    session.reset();
    if (end == End::ReaderGone)
        endForClosedOutput();
    return end == End::WriteFailed ? 1 : 0;
}
