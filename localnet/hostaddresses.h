#pragma once

#include "localnet/networkinterfaces.h"
#include "localnet/routemessages.h"

#include <QList>
#include <QSet>

// Which IPv4 addresses can be a host's, as this computer sees them. The kernel connects to
// none of the others, and nothing lives there to be asked: multicast (224.0.0.0/4), the
// reserved 240.0.0.0/4 with the limited broadcast, "this network" (0.0.0.0/8), every
// broadcast address of the kernel's local table, and the broadcast and network address of
// each of this computer's networks of four addresses or more (some kernels list the network
// address as a broadcast too, others route it). Immutable once made, so any thread may read
// it.
class HostAddresses final {
public:
    // Only the fixed rule: no network of this computer known.
    HostAddresses() = default;
    // Judged from a table and interfaces the caller passes. Pure.
    HostAddresses(const QList<RouteEntry> &routes, const QList<NetworkInterface> &interfaces);

    bool isHostAddress(quint32 address) const;

private:
    QSet<quint32> m_broadcasts; // and network addresses
};
