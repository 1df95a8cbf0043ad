#include "platform/resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace {

std::optional<QByteArray> lookUp(quint32 address, int flags, QByteArray *failure = nullptr)
{
    sockaddr_in socketAddress{};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_addr.s_addr = htonl(address);
    std::array<char, 1024> host{};
    std::array<char, 20> service{};
    const int result = getnameinfo(reinterpret_cast<const sockaddr *>(&socketAddress), sizeof socketAddress,
                                   host.data(), socklen_t(host.size()), service.data(), socklen_t(service.size()), flags);
    if (result != 0) {
        // The error is the result itself, not errno, unless it says to look there.
        if (failure)
            *failure = result == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(result);
        return std::nullopt;
    }
    return QByteArray(host.data());
}

class SystemResolver final : public Resolver {
public:
    std::optional<QByteArray> nameInfo(quint32 address, QByteArray *failure) override
    {
        return lookUp(address, 0, failure);
    }

    std::optional<QString> hostName(const QString &address) override
    {
        // Strict dotted-quad reading: "010.0.0.1" is no address here, not 8.0.0.1.
        in_addr parsed{};
        if (inet_pton(AF_INET, address.toLatin1().constData(), &parsed) != 1)
            return std::nullopt;
        const std::optional<QByteArray> name = lookUp(ntohl(parsed.s_addr), NI_NAMEREQD);
        if (!name || name->isEmpty())
            return std::nullopt;
        return QString::fromUtf8(*name);
    }
};

} // namespace

std::shared_ptr<Resolver> systemResolver()
{
    static const auto resolver = std::make_shared<SystemResolver>();
    return resolver;
}
