#pragma once

#include "localnet/netlinkdatagram.h"

#include <QList>

// The kernel's IPv4 neighbour table as rtnetlink carries it: the request for a dump and the
// entries read back. Pure functions of their bytes, safe from any thread.

// Whether someone answers at a neighbour's address, as far as the kernel knows.
enum class NeighbourState {
    Unknown, // not resolved yet (INCOMPLETE, NONE, NOARP, anything unusual)
    Someone, // REACHABLE, STALE, DELAY, PROBE or PERMANENT
    Nobody, // FAILED
};

struct NeighbourEntry final {
    quint32 address = 0; // host byte order
    int interfaceIndex = 0;
    NeighbourState state = NeighbourState::Unknown;
    bool fromDump = false; // part of a dump's answer (NLM_F_MULTI), not a change as it happened

    bool operator==(const NeighbourEntry &) const = default;
};

// What one datagram read from an rtnetlink socket says about IPv4 neighbours.
struct NeighbourMessages final {
    QList<NeighbourEntry> entries; // in the order carried
    NetlinkStatus status;
};

// The request for a dump of the IPv4 neighbour table (RTM_GETNEIGH, NLM_F_DUMP, AF_INET).
QByteArray neighbourDumpRequest(quint32 sequence);

// The IPv4 entries of RTM_NEWNEIGH and RTM_DELNEIGH messages in one datagram, with a dump's
// end and an error. Other message types and families, and messages that are truncated or
// malformed, are skipped.
NeighbourMessages parseNeighbourMessages(QByteArrayView datagram);
