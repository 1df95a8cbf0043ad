#pragma once

#include "model/responderentry.h"
#include "platform/resolver.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

// What tells the two broadcast protocols apart: the request, the port, the reply check and
// the texts of their log lines and socket errors.
struct BroadcastProtocol final {
    QByteArray request;
    quint16 port;
    bool (*isReply)(QByteArrayView datagram);
    const char *starting;          // logged first
    const char *broadcastFailure;  // perror texts of the three set-up steps
    const char *timeoutFailure;
    const char *sendFailure;
    const char *sent;              // logged once the request is out
    const char *response;          // logged for every datagram, with the sender
    const char *finished;          // the summary, with the seconds taken
};

// The gateways' protocol (port 30718) and the Corva devices' (port 23109).
const BroadcastProtocol &xpicoProtocol();
const BroadcastProtocol &corvaProtocol();

// One broadcast discovery: sends the protocol's request to `destination`, collects an entry
// for every valid reply during the receive window (3 s from the whole second in which it
// opens, tested between receives of at most 1 s each), in the order they arrive and without
// de-duplication, and returns them. Nothing (not an empty list) when the socket could not be
// set up or the request not sent. Blocks the calling thread; shares nothing with others.
std::optional<QList<ResponderEntry>> runBroadcastDiscovery(const BroadcastProtocol &protocol,
                                                           const QString &destination, Resolver &resolver);
