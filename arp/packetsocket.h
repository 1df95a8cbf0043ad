#pragma once

#include "arp/arpframe.h"

#include <string>

// The helper's packet socket: opened while the helper holds cap_net_raw, receiving nothing
// until bound; bound later, without privilege, to one interface's ARP replies to its own
// address. Not copyable; closes on destruction.
class PacketSocket final {
public:
    // Opens it; false with errno set when the kernel refuses (no capability).
    bool open();
    // Binds it to `interface`, which must be up, Ethernet-like and hold an IPv4 address;
    // false with `why` otherwise.
    bool bindTo(const std::string &interface, std::string *why);

    enum class SendResult { Sent, Full, Failed };
    SendResult send(const ArpPacket &packet);
    // One packet into `buffer`: its size, 0 when none waits, -1 on an error.
    long receive(std::uint8_t *buffer, std::size_t size);

    int descriptor() const { return m_socket; }
    const MacAddress &ownMac() const { return m_mac; }
    std::uint32_t ownAddress() const { return m_address; }

    PacketSocket() = default;
    PacketSocket(const PacketSocket &) = delete;
    PacketSocket &operator=(const PacketSocket &) = delete;
    ~PacketSocket();

private:
    int m_socket = -1;
    int m_interfaceIndex = 0;
    MacAddress m_mac{};
    std::uint32_t m_address = 0; // host byte order
};
