#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstddef>
#include <functional>

struct nlattr;
struct nlmsghdr;

// What a datagram read from an rtnetlink socket says of the request it answers.
struct NetlinkStatus final {
    bool dumpDone = false; // it carried NLMSG_DONE
    bool dumpInterrupted = false; // the table changed while it was dumped: dump again
    int error = 0; // an NLMSG_ERROR's errno (positive); 0 when none came
    quint32 sequence = 0; // the sequence number of the NLMSG_DONE or NLMSG_ERROR, if any

    bool operator==(const NetlinkStatus &) const = default;
};

// The request for a dump of an IPv4 table: `type` (RTM_GETNEIGH, RTM_GETROUTE) with a family
// header of `headerSize` bytes whose first byte is the family.
QByteArray netlinkDumpRequest(quint16 type, std::size_t headerSize, quint32 sequence);

// Hands each whole message of the datagram to `each`, apart from NLMSG_DONE and NLMSG_ERROR,
// which it reads into the status. The bytes are the kernel's but are checked all the same:
// a truncated or malformed message ends the walk, and nothing is read past the datagram.
// Pure, any thread.
NetlinkStatus readNetlinkDatagram(QByteArrayView datagram, const std::function<void(const nlmsghdr &)> &each);

// Hands `each` every attribute of `message` after its family header of `headerSize` bytes that
// lies wholly within the message's length; one that runs past it ends the walk. (libmnl bounds
// the attributes by the length rounded up to whole words, past the message's own bytes.)
void readNetlinkAttributes(const nlmsghdr &message, std::size_t headerSize, const std::function<void(const nlattr &)> &each);
