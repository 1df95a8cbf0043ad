#include "localnet/routemessages.h"

#include <arpa/inet.h>
#include <libmnl/libmnl.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cstring>
#include <optional>

namespace {

struct Attributes {
    std::optional<quint32> destination;
    std::optional<quint32> table;
    quint32 interfaceIndex = 0;
    quint32 priority = 0;
    bool viaGateway = false;
};

void readAttribute(const nlattr &attribute, Attributes &attributes)
{
    const bool word = mnl_attr_get_payload_len(&attribute) == sizeof(quint32);
    switch (mnl_attr_get_type(&attribute)) {
    case RTA_DST:
        if (word)
            attributes.destination = ntohl(mnl_attr_get_u32(&attribute));
        break;
    case RTA_TABLE:
        if (word)
            attributes.table = mnl_attr_get_u32(&attribute);
        break;
    case RTA_OIF:
        if (word)
            attributes.interfaceIndex = mnl_attr_get_u32(&attribute);
        break;
    case RTA_PRIORITY:
        if (word)
            attributes.priority = mnl_attr_get_u32(&attribute);
        break;
    case RTA_GATEWAY:
    case RTA_VIA:
    case RTA_MULTIPATH:
        attributes.viaGateway = true;
        break;
    default:
        break;
    }
}

std::optional<RouteEntry> entryOf(const nlmsghdr *message)
{
    if (message->nlmsg_type != RTM_NEWROUTE || mnl_nlmsg_get_payload_len(message) < sizeof(rtmsg))
        return std::nullopt;
    rtmsg header{};
    std::memcpy(&header, mnl_nlmsg_get_payload(message), sizeof header);
    if (header.rtm_family != AF_INET || header.rtm_dst_len > 32)
        return std::nullopt;
    Attributes attributes;
    readNetlinkAttributes(*message, sizeof(rtmsg), [&](const nlattr &attribute) { readAttribute(attribute, attributes); });
    // A default route carries no destination.
    if (!attributes.destination && header.rtm_dst_len != 0)
        return std::nullopt;
    return RouteEntry{attributes.destination.value_or(0),  header.rtm_dst_len,
                      attributes.table.value_or(header.rtm_table), header.rtm_type,
                      attributes.viaGateway,                int(attributes.interfaceIndex),
                      attributes.priority};
}

} // namespace

QByteArray routeDumpRequest(quint32 sequence)
{
    return netlinkDumpRequest(RTM_GETROUTE, sizeof(rtmsg), sequence);
}

RouteMessages parseRouteMessages(QByteArrayView datagram)
{
    RouteMessages result;
    result.status = readNetlinkDatagram(datagram, [&](const nlmsghdr &message) {
        if (const std::optional<RouteEntry> entry = entryOf(&message))
            result.routes.append(*entry);
    });
    return result;
}
