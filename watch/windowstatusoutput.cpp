#include "watch/windowstatusoutput.h"

#include "watch/watchsession.h"

void WindowStatusOutput::watching(const WatchSession &session)
{
    show(session, false);
}

void WindowStatusOutput::roundEnded(const WatchSession &session, const WatchRoundEnd &end)
{
    show(session, end.asked);
}

void WindowStatusOutput::ended(const WatchSession &)
{
    if (const auto controller = m_controller.lock())
        controller->setWatchStatus({});
}

void WindowStatusOutput::show(const WatchSession &session, bool judged)
{
    const auto controller = m_controller.lock();
    if (!controller)
        return;
    MainViewController::WatchStatus status{session.watchingText(), session.rangeProblem(), session.watchesRangesAlone(), {}};
    if (judged)
        status.missing = session.missingNow();
    controller->setWatchStatus(std::move(status));
}
