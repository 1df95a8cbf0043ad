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
        PresenceEvent &line = lines.emplace_back();
        line.time = change.time;
        line.event = QString::fromLatin1(watchEventName(watched.kind));
        line.mac = deviceMac(*watched.device).value_or(QString());
        line.address = deviceAddress(*watched.device);
        line.from = watched.from;
        if (watched.kind == WatchEvent::Kind::Steady)
            line.present = watched.present;
        line.source = source;
        line.site = session.site();
    }
    PresenceLog(QFileInfo(session.historyFile()).absolutePath() + QStringLiteral("/events.jsonl"))
        .append(lines, changes.last().time);
}
