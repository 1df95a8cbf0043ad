#pragma once

#include "platform/controls.h"
#include "watch/watchoutput.h"

#include <memory>

// One desktop notification of a round's changes (history/changenotice.h), at its end.
class NotificationOutput final : public WatchOutput {
public:
    explicit NotificationOutput(std::weak_ptr<ChangeNotifier> notifier) : m_notifier(std::move(notifier)) {}
    void changed(const WatchSession &session, const QList<WatchChange> &changes) override;
    void roundEnded(const WatchSession &session, const WatchRoundEnd &end) override;

private:
    std::weak_ptr<ChangeNotifier> m_notifier;
    QList<WatchEvent> m_events; // since the last notification
};
