#pragma once

#include "localnet/netlinkdatagram.h"

#include <QList>

// The kernel's IPv4 routes as an rtnetlink dump carries them. Pure functions of their
// bytes, safe from any thread.

struct RouteEntry final {
    quint32 destination = 0; // host byte order
    int prefixLength = 0;
    quint32 table = 0; // RT_TABLE_MAIN, RT_TABLE_LOCAL, ...
    quint8 type = 0; // RTN_UNICAST, RTN_LOCAL, RTN_BROADCAST, ...
    bool viaGateway = false; // through a router (or several: multipath), not to the address itself
    int interfaceIndex = 0;
    quint32 priority = 0; // the metric: of two routes alike, the lower is taken

    bool operator==(const RouteEntry &) const = default;
};

struct RouteMessages final {
    QList<RouteEntry> routes; // in the order carried
    NetlinkStatus status;
};

// The request for a dump of every IPv4 routing table (RTM_GETROUTE, NLM_F_DUMP, AF_INET).
QByteArray routeDumpRequest(quint32 sequence);

// The IPv4 routes of RTM_NEWROUTE messages in one datagram, with a dump's end and an error.
// Other message types and families, and messages that are truncated or malformed, are
// skipped.
RouteMessages parseRouteMessages(QByteArrayView datagram);
