#include "history/eventkind.h"

#include <QLatin1StringView>

#include <array>

const char *watchEventName(EventKind kind)
{
    switch (kind) {
    case EventKind::New:
        return "new";
    case EventKind::Missing:
        return "missing";
    case EventKind::Moved:
        return "moved";
    case EventKind::Flapping:
        return "flapping";
    case EventKind::Steady:
        return "steady";
    case EventKind::Back:
        break;
    }
    return "back";
}

std::optional<EventKind> eventKind(QStringView name)
{
    constexpr std::array kinds{EventKind::New,  EventKind::Missing,  EventKind::Moved,
                               EventKind::Back, EventKind::Flapping, EventKind::Steady};
    for (const EventKind kind : kinds)
        if (name == QLatin1StringView(watchEventName(kind)))
            return kind;
    return std::nullopt;
}
