#include "discovery/broadcastprotocol.h"

#include "discovery/datagram.h"
#include "probes/deviceprobe.h"

namespace {

// By their names' values.
constexpr BroadcastProtocol descriptions[] = {
    {
        DiscoveryProtocol::Corva,
        "Corva",
        QByteArrayView("Zeph", 4),
        23109,
        isCorvaReply,
        getDeviceInfo,
        "Starting Corva discovery...",
        "setsockopt SO_BROADCAST failed",
        "setsockopt SO_RCVTIMEO failed",
        "sendto failed",
        "bind failed",
        "Broadcast sent",
        "Corva disco response from %@",
        "Corva Disco finished after %fs",
        "Querying %lu Corva Devices...",
        false,
    },
    {
        DiscoveryProtocol::Xpico,
        "XPico",
        QByteArrayView("\x00\x01\x00\xF6", 4),
        30718,
        isXpicoReply,
        getXpicoInfo,
        "Starting XPico discovery...",
        "setsockopt() SO_BROADCAST failed",
        "setsockopt() timeout failed",
        "sendto() failed",
        "bind() failed",
        "XPico Broadcast sent",
        "XPico disco response from %@",
        "XPico Discovery finished after %fs",
        "Querying %lu XPico Devices...",
        true,
    },
};
static_assert(isEveryValueInPlace<DiscoveryProtocol>(descriptions, [](const BroadcastProtocol &row) { return row.name; }),
              "one description for every protocol, by its value");

} // namespace

const BroadcastProtocol &broadcastProtocol(DiscoveryProtocol protocol)
{
    return descriptions[std::size_t(protocol)];
}

const BroadcastProtocol &xpicoProtocol()
{
    return broadcastProtocol(DiscoveryProtocol::Xpico);
}

const BroadcastProtocol &corvaProtocol()
{
    return broadcastProtocol(DiscoveryProtocol::Corva);
}

QString protocolTitle(DiscoveryProtocol protocol)
{
    return QString::fromLatin1(broadcastProtocol(protocol).title);
}
