#pragma once

#include <QByteArrayView>
#include <QtGlobal>

#include <netinet/in.h>

#include <optional>
#include <span>

// The datagrams of a broadcast discovery: sent out of a chosen interface, and received with
// the interface they came in on.

// Sends one datagram to `to` out of the interface with this index, whatever the routing
// table says (so a limited broadcast leaves without a default route, and through every
// network); 0 leaves the choice to the routing table. False with errno set on failure.
// The one place that knows how this platform picks the outgoing interface.
bool sendThroughInterface(int fd, QByteArrayView datagram, const sockaddr_in &to, unsigned interfaceIndex);


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
