#include "history/presencespans.h"

#include "history/eventkind.h"

#include <algorithm>

namespace {

using State = PresenceSpan::State;

bool ofWatching(const PresenceEvent &event)
{
    return event.source == u"watch" || event.source == u"window";
}

// The events the span [from, to) is drawn from.
QList<PresenceEvent> used(const QList<PresenceEvent> &all, const QDateTime &from, const QDateTime &to)
{
    const bool watching = std::ranges::any_of(all, [&](const PresenceEvent &event) {
        return ofWatching(event) && event.time >= from && event.time < to;
    });
    QList<PresenceEvent> events;
    std::ranges::copy_if(all, std::back_inserter(events), [&](const PresenceEvent &event) {
        return !watching || ofWatching(event);
    });
    return events;
}

// The state an event leaves; `before` when it says nothing of presence.
State after(const PresenceEvent &event, State before)
{
    switch (eventKind(event.event).value_or(EventKind::Flapping)) {
    case EventKind::New:
    case EventKind::Back:
    case EventKind::Moved:
        return State::Present;
    case EventKind::Missing:
        return State::Absent;
    case EventKind::Steady:
        return event.present ? (*event.present ? State::Present : State::Absent) : before;
    case EventKind::Flapping:
        break;
    }
    return before;
}

// The state an event ends, as far as it tells.
State beforeFirst(const PresenceEvent &event)
{
    const std::optional<EventKind> kind = eventKind(event.event);
    if (kind == EventKind::Missing)
        return State::Present;
    if (kind == EventKind::Back)
        return State::Absent;
    return State::Unknown;
}

QString duration(qint64 seconds)
{
    const qint64 minutes = seconds / 60;
    if (minutes >= 24 * 60)
        return QStringLiteral("%1 d %2 h").arg(minutes / (24 * 60)).arg(minutes / 60 % 24);
    if (minutes >= 60)
        return QStringLiteral("%1 h %2 min").arg(minutes / 60).arg(minutes % 60);
    return QStringLiteral("%1 min").arg(minutes);
}

} // namespace

QList<PresenceSpan> presenceSpans(const QList<PresenceEvent> &all, const QDateTime &logStart, const QDateTime &from,
                                  const QDateTime &to)
{
    const QList<PresenceEvent> events = used(all, from, to);
    QList<PresenceSpan> spans;
    const auto add = [&](State state, QDateTime start, QDateTime end) {
        start = std::max(start, from);
        end = std::min(end, to);
        if (start >= end)
            return;
        if (!spans.isEmpty() && spans.last().state == state && spans.last().end == start)
            spans.last().end = end;
        else
            spans.append({state, start, end});
    };
    QDateTime at = from;
    State state = State::Unknown;
    if (logStart.isValid() && !events.isEmpty()) {
        add(State::Unknown, from, logStart);
        at = std::max(from, logStart);
        state = beforeFirst(events.first());
    }
    for (const PresenceEvent &event : std::as_const(events)) {
        if (event.time > at) {
            add(state, at, event.time);
            at = event.time;
        }
        state = after(event, state);
    }
    add(state, at, to);
    return spans;
}

QString presenceSummary(const QList<PresenceSpan> &spans, const QList<PresenceEvent> &all, const QString &last)
{
    if (spans.isEmpty())
        return {};
    const QList<PresenceEvent> events = used(all, spans.first().start, spans.last().end);
    qint64 present = 0; // ms, rounded to the minute
    for (const PresenceSpan &span : spans)
        present += span.state == State::Present ? span.start.msecsTo(span.end) : 0;
    present = (present + 30'000) / 1000;
    const auto missing = std::ranges::count_if(events, [&](const PresenceEvent &event) {
        return event.event == u"missing" && event.time >= spans.first().start && event.time < spans.last().end;
    });
    const QString times = missing == 0   ? QStringLiteral("never missing")
                          : missing == 1 ? QStringLiteral("missing once")
                          : missing == 2 ? QStringLiteral("missing twice")
                                         : QStringLiteral("missing %1 times").arg(missing);
    return QStringLiteral("Present %1 of the last %2; %3").arg(duration(present), last, times);
}
