#include "watch/notificationoutput.h"

#include "history/changenotice.h"
#include "watch/watchsession.h"

void NotificationOutput::changed(const WatchSession &, const QList<WatchChange> &changes)
{
    for (const WatchChange &change : changes)
        m_events.append(change.event);
}

void NotificationOutput::roundEnded(const WatchSession &session, const WatchRoundEnd &)
{
    const std::optional<ChangeNotice> notice = changeNotice(std::exchange(m_events, {}), session.labelOf());
    if (notice)
        withControl(m_notifier, [&](ChangeNotifier &notifier) { notifier.notify(notice->summary, notice->body, notice->plainBody); });
}
