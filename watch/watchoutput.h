#pragma once

#include "history/devicewatch.h"

#include <QDateTime>
#include <QList>
#include <QString>

class WatchSession;

// One change a watch judged, with the time the history records it at (the clock's time
// without a history).
struct WatchChange final {
    WatchEvent event;
    QDateTime time;
};

// How a judged round ended: it asked (its changes, if any, came before), or it could ask
// nobody, and why.
struct WatchRoundEnd final {
    bool asked = true;
    QString failure; // empty when it asked
};

// Where a watch's changes go: the JSON lines of `watch`, a program per event, desktop
// notifications, the metrics file, the presence log, the window's line under the table. An
// output hears only what it overrides. The session calls each output in the order they were
// added, on the main thread; an output never holds the main thread for long and never waits
// on the network.
class WatchOutput {
public:
    virtual ~WatchOutput() = default;

    // Watching began, or what it watches changed.
    virtual void watching(const WatchSession &session) { (void)session; }
    // Changes judged at one moment, in their order.
    virtual void changed(const WatchSession &session, const QList<WatchChange> &changes)
    {
        (void)session;
        (void)changes;
    }
    // A round ended, after its changes: one of the watch's own, or a discovery it judged.
    virtual void roundEnded(const WatchSession &session, const WatchRoundEnd &end)
    {
        (void)session;
        (void)end;
    }
    // Watching ends: the last call before the output goes.
    virtual void ended(const WatchSession &session) { (void)session; }
};
