#include "arp/packetsocket.h"

#include <arpa/inet.h>
#include <linux/filter.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/if_ether.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

std::string errorText()
{
    return std::strerror(errno);
}

} // namespace

bool PacketSocket::open()
{
    // Protocol 0: nothing is received before the bind names ARP and the interface.
    m_socket = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    return m_socket >= 0;
}

bool PacketSocket::bindTo(const std::string &interface, std::string *why)
{
    ifreq request{};
    std::memcpy(request.ifr_name, interface.c_str(), std::min(interface.size(), sizeof request.ifr_name - 1));
    if (::ioctl(m_socket, SIOCGIFINDEX, &request) != 0) {
        *why = "no interface " + interface + ": " + errorText();
        return false;
    }
    m_interfaceIndex = request.ifr_ifindex;
    if (::ioctl(m_socket, SIOCGIFFLAGS, &request) != 0 || (request.ifr_flags & IFF_UP) == 0
        || (request.ifr_flags & (IFF_LOOPBACK | IFF_NOARP)) != 0) {
        *why = "the interface " + interface + " is down, a loopback or without ARP";
        return false;
    }
    if (::ioctl(m_socket, SIOCGIFHWADDR, &request) != 0 || request.ifr_hwaddr.sa_family != ARPHRD_ETHER) {
        *why = "the interface " + interface + " has no Ethernet address";
        return false;
    }
    std::memcpy(m_mac.data(), request.ifr_hwaddr.sa_data, m_mac.size());
    // The packet socket answers SIOCGIFADDR only for AF_INET sockets.
    const int inet = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const bool hasAddress = inet >= 0 && ::ioctl(inet, SIOCGIFADDR, &request) == 0;
    if (inet >= 0)
        ::close(inet);
    if (!hasAddress || request.ifr_addr.sa_family != AF_INET) {
        *why = "the interface " + interface + " has no IPv4 address";
        return false;
    }
    sockaddr_in own{};
    std::memcpy(&own, &request.ifr_addr, sizeof own);
    m_address = ntohl(own.sin_addr.s_addr);

    // Only ARP replies (operation 2) to this address pass into the socket.
    sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 6),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 2, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, 24),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, m_address, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, 0xffff),
        BPF_STMT(BPF_RET | BPF_K, 0),
    };
    const sock_fprog filter{sizeof code / sizeof code[0], code};
    if (::setsockopt(m_socket, SOL_SOCKET, SO_ATTACH_FILTER, &filter, sizeof filter) != 0) {
        *why = "no ARP filter: " + errorText();
        return false;
    }
    sockaddr_ll link{};
    link.sll_family = AF_PACKET;
    link.sll_protocol = htons(ETH_P_ARP);
    link.sll_ifindex = m_interfaceIndex;
    if (::bind(m_socket, reinterpret_cast<const sockaddr *>(&link), sizeof link) != 0) {
        *why = "the packet socket cannot be bound to " + interface + ": " + errorText();
        return false;
    }
    return true;
}

PacketSocket::SendResult PacketSocket::send(const ArpPacket &packet)
{
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_protocol = htons(ETH_P_ARP);
    to.sll_ifindex = m_interfaceIndex;
    to.sll_halen = 6;
    std::memset(to.sll_addr, 0xff, 6);
    if (::sendto(m_socket, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to) >= 0)
        return SendResult::Sent;
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS ? SendResult::Full : SendResult::Failed;
}

long PacketSocket::receive(std::uint8_t *buffer, std::size_t size)
{
    const ssize_t got = ::recv(m_socket, buffer, size, MSG_DONTWAIT);
    if (got >= 0)
        return long(got);
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
}

PacketSocket::~PacketSocket()
{
    if (m_socket >= 0)
        ::close(m_socket);
}
