#pragma once

#include "history/presencelog.h"

#include <QDateTime>
#include <QList>
#include <QString>

// A stretch of time in which a device's presence is one thing.
struct PresenceSpan final {
    enum class State { Unknown, Present, Absent };
    State state = State::Unknown;
    QDateTime start; // UTC
    QDateTime end;
    bool operator==(const PresenceSpan &) const = default;
};

// One device's presence from `from` to `to`, as its events (oldest first) tell it, in spans
// of one state each, the neighbours of a span in other states: present from a new, back or
// moved to the next missing, absent from a missing to the next back; a steady says which;
// a flapping changes nothing. Before the log's first line (`logStart`) nothing is known;
// after it and before the device's first event, what that event ends (present before a
// missing, absent before a back; a new says it was never seen: unknown). Only the events of
// watch and the window are used when the span holds any of theirs, else all. Pure.
QList<PresenceSpan> presenceSpans(const QList<PresenceEvent> &events, const QDateTime &logStart, const QDateTime &from,
                                  const QDateTime &to);

// What a screen reader hears of the spans: "Present 23 h 10 min of the last 24 hours;
// missing twice" (`last` names the span: "24 hours", "7 days"), the missings those of the
// events within the span.
QString presenceSummary(const QList<PresenceSpan> &spans, const QList<PresenceEvent> &events, const QString &last);
