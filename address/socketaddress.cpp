#include "address/socketaddress.h"

#include <netinet/in.h>

std::optional<SocketAddress> socketAddress(const Address &address, std::uint16_t port)
{
    const std::optional<std::uint32_t> ipv4 = address.ipv4();
    if (!ipv4)
        return std::nullopt;
    SocketAddress result;
    auto *const in = reinterpret_cast<sockaddr_in *>(&result.storage);
    in->sin_family = AF_INET;
    in->sin_port = htons(address.port() != 0 ? address.port() : port);
    in->sin_addr.s_addr = htonl(*ipv4);
    result.size = sizeof(sockaddr_in);
    return result;
}

Address addressOf(const sockaddr &address)
{
    if (address.sa_family != AF_INET)
        return {};
    return Address::ipv4(ntohl(reinterpret_cast<const sockaddr_in &>(address).sin_addr.s_addr));
}
