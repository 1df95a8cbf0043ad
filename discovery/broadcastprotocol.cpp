#include "discovery/broadcastprotocol.h"

#include "discovery/datagram.h"
#include "probes/deviceprobe.h"

namespace {

// In the order of discoveryProtocols.
const PerProtocol<BroadcastProtocol> &descriptions()
{
    static const PerProtocol<BroadcastProtocol> protocols{{
        {
            DiscoveryProtocol::Corva,
            "Corva",
            QByteArray("Zeph", 4),
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
            QByteArray("\x00\x01\x00\xF6", 4),
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
    }};
    return protocols;
}

} // namespace

const BroadcastProtocol &broadcastProtocol(DiscoveryProtocol protocol)
{
    const BroadcastProtocol &description = descriptions()[std::size_t(protocol)];
    Q_ASSERT(description.name == protocol);
    return description;
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
