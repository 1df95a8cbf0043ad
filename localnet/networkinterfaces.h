#pragma once

#include <QList>
#include <QString>

#include <optional>

// One IPv4 address of a network interface, as the system lists it: an interface with two
// addresses is listed twice.
struct NetworkInterface final {
    QString name;
    unsigned index = 0;
    unsigned flags = 0; // IFF_UP, IFF_LOOPBACK, IFF_BROADCAST, ...
    quint32 address = 0; // host byte order
    int prefixLength = 0; // the netmask's leading one bits
};

// This machine's interfaces that have an IPv4 address.
QList<NetworkInterface> ipv4Interfaces();


// The interfaces a broadcast goes out of: up, not loopback and able to broadcast, each
// once however many addresses it has, in the order listed.
QList<unsigned> broadcastInterfaces(const QList<NetworkInterface> &interfaces);

// Where an address lies as seen from this computer, judged from its interfaces alone: pure
// functions over a list the caller passes, so any list can be judged.

// The network of `prefixLength` bits around `address`, and whether an address lies on the
// network of one interface address, or of any in the list.
quint32 networkOf(quint32 address, int prefixLength);
bool isOnNetwork(quint32 address, const NetworkInterface &interface);
bool isOnAnyNetwork(quint32 address, const QList<NetworkInterface> &interfaces);

// A responder on none of the computer's networks cannot be reached without a router: a
// self-assigned address (169.254.0.0/16) when it found no DHCP server, any other address
// when it was set for another network.
enum class ResponderPlace { OnNetwork, OffNetwork, LinkLocal };
ResponderPlace placeOf(quint32 address, const QList<NetworkInterface> &interfaces);

// How one address of the computer's interfaces is taken when the computer's own networks are
// scanned: only networks that can hold devices. An interface that is down or has no carrier
// (a cable out, a bridge with nothing on it), loopback, a self-assigned (link-local) address
// when there is any other network, and a /32 (this computer alone) are left out; a /31 is a
// point-to-point link whose two addresses are scanned; a network wider than a /22 is scanned
// as the /24 around the computer's address.
struct LocalNetwork final {
    enum class Choice { Whole, AroundAddress, Down, NoCarrier, Loopback, LinkLocal, OnlyThisComputer };
    QString interface;
    quint32 address = 0; // the computer's, host byte order
    QString network;     // "10.200.0.0/16"
    quint64 size = 0;  // the network's addresses
    Choice choice = Choice::Whole;
    QString range;     // what is scanned: the network, or the /24 around the address; empty when left out

    bool isTaken() const { return !range.isEmpty(); }
    // What a person reads of the choice, one line: "Scanning 10.200.7.0/24 on tun0, the /24
    // around this computer's address: 10.200.0.0/16 is wider than a /22".
    QString description() const;
};

// The networks of the interfaces' addresses, in the order listed: each range scanned once
// (each address on a wide network gives its own /24), each network left out once.
QList<LocalNetwork> localNetworks(const QList<NetworkInterface> &interfaces);

// One of the computer's own networks offered as a range to scan: `range` as the range box
// and the scan read it ("10.241.67.0/24"), `label` as a person reads it ("10.241.67.0/24 —
// eth1").
struct LocalRange final {
    QString range;
    QString label;

    bool operator==(const LocalRange &) const = default;
};

// The choices of the range box: each network a scan of the computer's networks takes, and
// after a network scanned as the /24 around the computer's address, the whole of it too,
// with its size ("10.200.0.0/16 — tun0, 65,536 addresses").
QList<LocalRange> localScanRanges(const QList<NetworkInterface> &interfaces);
