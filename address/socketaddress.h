#pragma once

#include "address/address.h"

#include <cstdint>
#include <optional>

#include <sys/socket.h>

// An address as the system's sockets take it and give it back.
struct SocketAddress final {
    sockaddr_storage storage{};
    socklen_t size = 0;

    int family() const { return storage.ss_family; }
    const sockaddr *get() const { return reinterpret_cast<const sockaddr *>(&storage); }
};

// The socket address of `address` at its port, or at `port` where it gives none; nothing for
// a name or a text as given, which name no address yet.
std::optional<SocketAddress> socketAddress(const Address &address, std::uint16_t port);
// The address (without its port) that a socket address gives; no address for a family the
// tool does not speak.
Address addressOf(const sockaddr &address);
