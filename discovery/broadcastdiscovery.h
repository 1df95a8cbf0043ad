#pragma once

#include "discovery/broadcastprotocol.h"
#include "discovery/discoveryreport.h"
#include "discovery/responderentry.h"
#include "platform/resolver.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <memory>
#include <optional>
#include <stop_token>

// Where one discovery sends its request: to `address`, out of the interface with this
// index (0: where the routing table says).
struct BroadcastTarget final {
    Address address;
    unsigned interfaceIndex = 0;
};

// The limited broadcast out of every interface that can carry it.
QList<BroadcastTarget> everyInterface(const QList<unsigned> &interfaceIndexes);

// One broadcast discovery: sends the protocol's request once to each target, collects an
// entry for every valid reply during the receive window (3 s from the whole second in which
// it opens, tested between receives of at most 1 s each), in the order they arrive and
// without de-duplication, and returns them. A send that fails is reported and the others go
// on; nothing (not an empty list) when the socket could not be set up, the reply port
// (0: one the system picks) not be bound, or no request be sent. The replies' name
// look-ups run beside the receive loop, for the first `lookUpCap` addresses, and have
// until the look-up budget after the window's close to answer. A stop ends the window at
// once and the wait for the look-ups. What was sent and heard by which interface goes into
// `report`, when there is one. Blocks the calling thread.
struct BroadcastSetting final {
    QList<BroadcastTarget> targets;
    quint16 replyPort = 0;
    std::shared_ptr<Resolver> resolver;
    qsizetype lookUpCap = 0;
    std::shared_ptr<ReportInProgress> report; // may be null
};
std::optional<QList<ResponderEntry>> runBroadcastDiscovery(const BroadcastProtocol &protocol,
                                                           const BroadcastSetting &setting, std::stop_token stop);
