#pragma once

#include "localnet/hostaddresses.h"
#include "localnet/networkinterfaces.h"
#include "localnet/routemessages.h"

#include <QList>
#include <QString>

#include <optional>

// Which addresses this computer reaches on one of its own links, as the kernel routes them:
// only for those does the kernel's neighbour table tell who is there. Immutable once made, so
// any thread may read it.
class LinkRoutes final {
public:
    // More routes than this (a router's full table) are not judged: nothing is on link.
    static constexpr qsizetype maxRoutes = 10'000;

    // Nothing is on link.
    LinkRoutes() = default;
    // Judged from a table and interfaces the caller passes. Pure.
    LinkRoutes(const QList<RouteEntry> &routes, const QList<NetworkInterface> &interfaces);
    // This computer's routes and interfaces; nothing, with why, when the kernel's table cannot
    // be read. Waits a second at most for the kernel: a background thread.
    static std::optional<LinkRoutes> read(QString *why);

    // Whether `address` is sent to directly on a link whose neighbours the kernel resolves:
    // its route in the main table has no gateway and leaves by an interface that is up, has
    // a carrier and resolves addresses (not loopback, point-to-point or without ARP). An
    // address of the local table (this computer's own, a broadcast address) is not, nor one
    // that is no host's, whatever route it takes.
    bool isOnLink(quint32 address) const;
    // The interface the route to an on-link address leaves by: only its neighbour entry for
    // the address tells who is there (another interface on the same subnet has its own). 0
    // when the address is not on link.
    int linkInterface(quint32 address) const;
    // Whether any address from `first` to `last` may be on link: a cheap test of a whole range.
    bool mayBeOnLink(quint32 first, quint32 last) const;
    // Which addresses can be a host's, judged from the same table and interfaces.
    const HostAddresses &hostAddresses() const { return m_hosts; }

private:
    HostAddresses m_hosts;
    QList<RouteEntry> m_local;
    QList<RouteEntry> m_main; // the longest prefix first, then the lowest metric
    QList<int> m_linkInterfaces; // the interfaces that resolve their neighbours
};
