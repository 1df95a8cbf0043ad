#include "arp/arpframe.h"

namespace {

constexpr std::uint8_t requestHead[8] = {0x00, 0x01, 0x08, 0x00, 6, 4, 0x00, 0x01};
constexpr std::uint8_t replyHead[8] = {0x00, 0x01, 0x08, 0x00, 6, 4, 0x00, 0x02};

void putAddress(std::uint8_t *at, std::uint32_t address)
{
    at[0] = std::uint8_t(address >> 24);
    at[1] = std::uint8_t(address >> 16);
    at[2] = std::uint8_t(address >> 8);
    at[3] = std::uint8_t(address);
}

std::uint32_t getAddress(const std::uint8_t *at)
{
    return std::uint32_t(at[0]) << 24 | std::uint32_t(at[1]) << 16 | std::uint32_t(at[2]) << 8 | at[3];
}

} // namespace

ArpPacket arpRequest(const MacAddress &ownMac, std::uint32_t ownAddress, std::uint32_t target)
{
    ArpPacket packet{};
    std::copy(std::begin(requestHead), std::end(requestHead), packet.begin());
    std::copy(ownMac.begin(), ownMac.end(), packet.begin() + 8);
    putAddress(packet.data() + 14, ownAddress);
    // The target's hardware address stays zero: unknown.
    putAddress(packet.data() + 24, target);
    return packet;
}

std::optional<ArpReply> parseArpReply(const std::uint8_t *data, std::size_t size, std::uint32_t ownAddress)
{
    // Ethernet pads short frames: only the first 28 bytes count.
    if (size < ArpPacket().size() || !std::equal(std::begin(replyHead), std::end(replyHead), data))
        return std::nullopt;
    if (getAddress(data + 24) != ownAddress)
        return std::nullopt;
    ArpReply reply;
    std::copy(data + 8, data + 14, reply.senderMac.begin());
    reply.sender = getAddress(data + 14);
    // A group address (its first octet's lowest bit) or all zeros answers for nobody.
    const bool zero = std::all_of(reply.senderMac.begin(), reply.senderMac.end(), [](std::uint8_t b) { return b == 0; });
    if ((reply.senderMac[0] & 1) != 0 || zero)
        return std::nullopt;
    return reply;
}
