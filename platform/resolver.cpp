#include "platform/resolver.h"

#include "address/socketaddress.h"

#include <netdb.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace {

std::optional<QByteArray> lookUp(const Address &address, int flags, QByteArray *failure = nullptr)
{
    const std::optional<SocketAddress> asked = socketAddress(address, 0);
    if (!asked) {
        if (failure)
            *failure = gai_strerror(EAI_NONAME);
        return std::nullopt;
    }
    std::array<char, 1024> host{};
    std::array<char, 20> service{};
    const int result = getnameinfo(asked->get(), asked->size, host.data(), socklen_t(host.size()), service.data(),
                                   socklen_t(service.size()), flags);
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
    std::optional<QByteArray> nameInfo(const Address &address, QByteArray *failure) override
    {
        return lookUp(address, 0, failure);
    }

    std::optional<QString> hostName(const Address &address) override
    {
        const std::optional<QByteArray> name = lookUp(address, NI_NAMEREQD);
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
