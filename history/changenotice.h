#pragma once

#include "history/devicewatch.h"

#include <QList>
#include <QString>

#include <optional>

// The desktop notification of one watched run's changes, such as
//   summary: "2 new devices, 1 device missing"
//   body:    "2 new devices: Roof gateway, Corva-0042\n1 device missing: 10.0.0.7"
// One body line per kind of event (new, missing, moved, back, flapping,
// steady, in that order). A device is
// named by its label, else its host name, else its address, else its MAC address; the
// labelled ones come first, then those with a host name, then the rest, each in the
// events' order. At most maxNamed are named on a line, then "and N more".
//
// A device chooses its host name, so every device text is cut after maxNameLength
// characters and escaped as a terminal shows it (safetext.h): one line of plain text. The body comes twice: escaped for
// the notification body markup, and plain for a server that does not take markup.
struct ChangeNotice final {
    static constexpr qsizetype maxNamed = 5;
    static constexpr qsizetype maxNameLength = 64;

    QString summary; // plain text, no device text in it
    QString body;    // body markup
    QString plainBody;
};

// Nothing for a run without events. Pure, any thread.
std::optional<ChangeNotice> changeNotice(const QList<WatchEvent> &events, const LabelOf &labelOf);
