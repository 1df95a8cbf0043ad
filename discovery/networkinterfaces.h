#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>

#include <netinet/in.h>

#include <optional>
#include <span>

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

// Sends one datagram to `to` out of the interface with this index, whatever the routing
// table says (so a limited broadcast leaves without a default route, and through every
// network); 0 leaves the choice to the routing table. False with errno set on failure.
// The one place that knows how this platform picks the outgoing interface.
bool sendThroughInterface(int fd, QByteArrayView datagram, const sockaddr_in &to, unsigned interfaceIndex);

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

// One of the computer's own networks offered as a range to scan: `range` as the range box
// and the scan read it ("10.241.67.0/24"), `label` as a person reads it ("10.241.67.0/24 —
// eth1").
struct LocalRange final {
    QString range;
    QString label;

    bool operator==(const LocalRange &) const = default;
};

// The networks of the interfaces that are up and not loopback, each once, in the order
// listed. A network wider than a /16 is offered as the /24 around the computer's address,
// so that no choice asks for more than 65,536 addresses; a /32 holds only the computer
// itself and is left out.
QList<LocalRange> localScanRanges(const QList<NetworkInterface> &interfaces);

// Receiving with the interface a datagram came in on, which a reply to a broadcast does not
// otherwise tell.

// Asks the system to give each datagram read from `fd` its arriving interface. False with
// errno set on failure.
bool enableArrivalInterface(int fd);

struct ReceivedDatagram final {
    qsizetype size = 0; // the bytes put in the buffer; the rest of a longer datagram is gone
    sockaddr_in from{};
    unsigned interfaceIndex = 0; // 0 when the system did not say
};

// Reads one datagram into `buffer` as recvfrom() would, blocking as the socket does.
// Nothing, with errno set, when the receive failed or timed out.
std::optional<ReceivedDatagram> receiveWithInterface(int fd, std::span<char> buffer);
