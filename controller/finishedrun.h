#pragma once

#include "history/devicehistory.h"
#include "model/devicelist.h"
#include "probes/run.h"
#include "probes/unaskedaddresses.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <memory>
#include <optional>
#include <utility>

// A watch's round: the known devices it asked (the first ones of its list) and how far its
// walk came.
struct WatchRoundReach final {
    QList<std::pair<QString, QString>> asked = {};
    qint64 walked = 0;
};

// How a run ended, as whoever hears of its end is told. A run that could ask nothing (no
// broadcast left, no probe found a route) has failed, says why, and changed nothing in the
// history; one that could not ask everyone (stopped, or some broadcasts did not go out)
// judges nobody missing. A scan that found no route to some of its addresses leaves unjudged
// only the devices last seen there.
struct FinishedRun final {
    Run::Kind kind = Run::Kind::Discovery;
    bool stopped = false;
    QString failure = {};
    bool askedEveryone = true;
    DeviceList found = {}; // the run's found lists, duplicates included
    std::shared_ptr<const UnaskedAddresses> unasked = {}; // a scan's, when it had any
    RunScope scope = {}; // what the run asked: everyone for a discovery, a scan's ranges less the unasked
    QDateTime recordedAt = {}; // the time the history recorded the run at; invalid when it did not
    std::optional<WatchRoundReach> round = {}; // a watch's round's; nothing for any other run
};
