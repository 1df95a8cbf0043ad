#include "probes/httpclient.h"

#include "platform/addresstext.h"

std::optional<HttpTarget> probeUrl(const Address &address, const QString &path)
{
    const std::optional<Address> host = address.isHost() ? address : addressFromHostPort(addressText(address));
    if (!host)
        return std::nullopt;
    return HttpTarget{*host, deviceUrl(*host, path).toLatin1()};
}
