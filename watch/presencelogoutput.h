#pragma once

#include "watch/watchoutput.h"

// The presence log beside the history (history/presencelog.h): each change as one line,
// naming the face ("watch" or "window") and the site. Nothing without a history.
class PresenceLogOutput final : public WatchOutput {
public:
    void changed(const WatchSession &session, const QList<WatchChange> &changes) override;
};
