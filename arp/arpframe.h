#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

// ARP over Ethernet for IPv4: the 28 bytes after the Ethernet header (the packet socket
// adds and strips that header).
using MacAddress = std::array<std::uint8_t, 6>;
using ArpPacket = std::array<std::uint8_t, 28>;

// A request from `ownMac` / `ownAddress` for `target` (host byte order).
ArpPacket arpRequest(const MacAddress &ownMac, std::uint32_t ownAddress, std::uint32_t target);

struct ArpReply final {
    std::uint32_t sender = 0; // host byte order
    MacAddress senderMac{};
};

// A reply to `ownAddress` from an address with a unicast MAC; nothing for any other bytes.
std::optional<ArpReply> parseArpReply(const std::uint8_t *data, std::size_t size, std::uint32_t ownAddress);
