#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>

#include <netinet/in.h>

// One IPv4 address of a network interface, as the system lists it: an interface with two
// addresses is listed twice.
struct NetworkInterface final {
    QString name;
    unsigned index = 0;
    unsigned flags = 0; // IFF_UP, IFF_LOOPBACK, IFF_BROADCAST, ...
};

// This machine's interfaces that have an IPv4 address.
QList<NetworkInterface> ipv4Interfaces();

// The interfaces a broadcast goes out of: up, not loopback and able to broadcast, each
// once however many addresses it has, in the order listed.
QList<unsigned> broadcastInterfaces(const QList<NetworkInterface> &interfaces);

// Sends one datagram to `to` out of the interface with this index, whatever the routing
// table says (so a limited broadcast leaves without a default route, and through every
// network); 0 leaves the choice to the routing table. False with errno set on failure.
// The one place that knows how this platform picks the outgoing interface.
bool sendThroughInterface(int fd, QByteArrayView datagram, const sockaddr_in &to, unsigned interfaceIndex);
