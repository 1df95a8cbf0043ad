#include "watch/presencelogoutput.h"

#include "history/presencelog.h"
#include "watch/watchsession.h"

#include <QFileInfo>

void PresenceLogOutput::changed(const WatchSession &session, const QList<WatchChange> &changes)
{
    if (session.historyFile().isEmpty())
        return;
    const QString source = session.face() == WatchFace::Window ? QStringLiteral("window") : QStringLiteral("watch");
    QList<PresenceEvent> lines;
    for (const WatchChange &change : changes) {
        const WatchEvent &watched = change.event;
        lines.append({.time = change.time,
                      .event = QString::fromLatin1(watchEventName(watched.kind)),
                      .mac = deviceMac(*watched.device).value_or(QString()),
                      .address = deviceAddress(*watched.device),
                      .from = watched.from,
                      .present = watched.kind == WatchEvent::Kind::Steady ? std::optional(watched.present) : std::nullopt,
                      .source = source,
                      .site = session.site()});
    }
    PresenceLog(PresenceLog::besideHistory(session.historyFile()))
        .append(lines, changes.last().time);
}
