#pragma once

#include "destinations/destination.h"
#include "history/devicewatch.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// One change as a destination's templates see it.
struct DestinationChange final {
    WatchEvent event;
    QDateTime time;  // when it was judged
    QDateTime since; // a missing device: when it was last seen; otherwise the time
    QString label;   // the user's label, if any
};

// What one destination is sent of the changes gathered: the changes it takes, a title and a
// text. One change: its title and body templates; several: the fixed summary as the title
// ("3 missing, 1 new at roof") and a line each, at most maxLines, then "and N more". Every
// device text is one line of plain text (escaped as a terminal shows it), so none breaks a
// line, a header or a Subject.
struct DestinationMessage final {
    static constexpr qsizetype maxLines = 20;

    QList<DestinationChange> changes;
    QString site;
    QString title;
    QString text;
    bool missing = false; // a missing device is among them (the push services' priority)
};

// Nothing when it takes none of the changes. Pure, any thread.
std::optional<DestinationMessage> destinationMessage(const Destination &destination, const QList<DestinationChange> &changes,
                                                     const QString &site);

// The one test message of `destinations test`, of a made-up change.
DestinationMessage testMessage(const Destination &destination, const QString &site, const QDateTime &now);

// The value of one template variable for a change, as plain one-line text.
QString changeVariable(const DestinationChange &change, const QString &site, QStringView name);
