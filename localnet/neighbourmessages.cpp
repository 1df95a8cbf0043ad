#include "localnet/neighbourmessages.h"

#include <arpa/inet.h>
#include <libmnl/libmnl.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cstring>
#include <optional>

namespace {

NeighbourState stateOf(quint16 state)
{
    // The kernel sets one state at a time; of a mix, a sign of life wins.
    if (state & (NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE | NUD_PERMANENT))
        return NeighbourState::Someone;
    if (state & NUD_FAILED)
        return NeighbourState::Nobody;
    return NeighbourState::Unknown;
}

std::optional<NeighbourEntry> entryOf(const nlmsghdr *message)
{
    if (message->nlmsg_type != RTM_NEWNEIGH && message->nlmsg_type != RTM_DELNEIGH)
        return std::nullopt;
    if (mnl_nlmsg_get_payload_len(message) < sizeof(ndmsg))
        return std::nullopt;
    ndmsg header{};
    std::memcpy(&header, mnl_nlmsg_get_payload(message), sizeof header);
    if (header.ndm_family != AF_INET)
        return std::nullopt;
    // The address of an NDA_DST attribute, if it holds one of IPv4's size.
    std::optional<quint32> destination;
    readNetlinkAttributes(*message, sizeof(ndmsg), [&](const nlattr &attribute) {
        if (mnl_attr_get_type(&attribute) == NDA_DST && mnl_attr_get_payload_len(&attribute) == sizeof(quint32))
            destination = ntohl(mnl_attr_get_u32(&attribute));
    });
    if (!destination)
        return std::nullopt;
    return NeighbourEntry{*destination, header.ndm_ifindex, stateOf(header.ndm_state),
                          (message->nlmsg_flags & NLM_F_MULTI) != 0};
}

} // namespace

QByteArray neighbourDumpRequest(quint32 sequence)
{
    return netlinkDumpRequest(RTM_GETNEIGH, sizeof(ndmsg), sequence);
}

NeighbourMessages parseNeighbourMessages(QByteArrayView datagram)
{
    NeighbourMessages result;
    result.status = readNetlinkDatagram(datagram, [&](const nlmsghdr &message) {
        if (const std::optional<NeighbourEntry> entry = entryOf(&message))
            result.entries.append(*entry);
    });
    return result;
}
