// A datagram read from an rtnetlink socket of the neighbour sweep: the neighbour table's
// changes, or a dump of the routes. The kernel sends it, but its parsers take nothing on trust.
#include "localnet/neighbourmessages.h"
#include "localnet/routemessages.h"
#include "tests/fuzz/require.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView datagram(reinterpret_cast<const char *>(data), qsizetype(size));
    const NeighbourMessages neighbours = parseNeighbourMessages(datagram);
    // A netlink header, a neighbour header and an address attribute at the least.
    require(neighbours.entries.size() <= datagram.size() / 36, "no more entries than the bytes can hold");
    require(neighbours.status.error >= 0, "an errno is positive");
    const RouteMessages routes = parseRouteMessages(datagram);
    // A netlink header and a route header at the least.
    require(routes.routes.size() <= datagram.size() / 28, "no more routes than the bytes can hold");
    for (const RouteEntry &route : routes.routes)
        require(route.prefixLength >= 0 && route.prefixLength <= 32, "a prefix of 0 to 32 bits");
    require(routes.status == neighbours.status, "both read a datagram's end alike");
    return 0;
}
