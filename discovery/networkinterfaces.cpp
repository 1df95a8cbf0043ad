#include "discovery/networkinterfaces.h"

#include "scan/rangeexpression.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

quint32 ipv4Of(const sockaddr *address)
{
    if (!address || address->sa_family != AF_INET)
        return 0;
    return ntohl(reinterpret_cast<const sockaddr_in *>(address)->sin_addr.s_addr);
}

} // namespace

QList<NetworkInterface> ipv4Interfaces()
{
    QList<NetworkInterface> interfaces;
    ifaddrs *all = nullptr;
    if (getifaddrs(&all) != 0)
        return interfaces;
    for (const ifaddrs *at = all; at; at = at->ifa_next) {
        if (!at->ifa_addr || at->ifa_addr->sa_family != AF_INET)
            continue;
        // A labelled second address ("eth0:1") belongs to the interface before the colon.
        const QString name = QString::fromLocal8Bit(at->ifa_name).section(u':', 0, 0);
        // A mask with a hole in it counts only its leading ones.
        const int prefixLength = std::countl_one(ipv4Of(at->ifa_netmask));
        interfaces.append({name, if_nametoindex(name.toLocal8Bit().constData()), at->ifa_flags, ipv4Of(at->ifa_addr),
                           prefixLength});
    }
    freeifaddrs(all);
    return interfaces;
}

QList<unsigned> broadcastInterfaces(const QList<NetworkInterface> &interfaces)
{
    QList<unsigned> chosen;
    for (const NetworkInterface &interface : interfaces) {
        const bool usable = (interface.flags & IFF_UP) && !(interface.flags & IFF_LOOPBACK)
                            && (interface.flags & IFF_BROADCAST) && interface.index != 0;
        if (usable && !chosen.contains(interface.index))
            chosen.append(interface.index);
    }
    return chosen;
}

// IP_PKTINFO names the outgoing interface per datagram and, unlike SO_BINDTODEVICE, needs
// no privilege on any kernel.
bool sendThroughInterface(int fd, QByteArrayView datagram, const sockaddr_in &to, unsigned interfaceIndex)
{
    iovec part{const_cast<char *>(datagram.data()), std::size_t(datagram.size())};
    msghdr message{};
    message.msg_name = const_cast<sockaddr_in *>(&to);
    message.msg_namelen = sizeof to;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    if (interfaceIndex != 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr *header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = IPPROTO_IP;
        header->cmsg_type = IP_PKTINFO;
        header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_ifindex = int(interfaceIndex);
        std::memcpy(CMSG_DATA(header), &info, sizeof info);
    }
    return sendmsg(fd, &message, 0) >= 0;
}

quint32 networkOf(quint32 address, int prefixLength)
{
    if (prefixLength <= 0)
        return 0;
    return prefixLength >= 32 ? address : address & ~(0xFFFFFFFFu >> prefixLength);
}

bool isOnNetwork(quint32 address, const NetworkInterface &interface)
{
    return networkOf(address, interface.prefixLength) == networkOf(interface.address, interface.prefixLength);
}

bool isOnAnyNetwork(quint32 address, const QList<NetworkInterface> &interfaces)
{
    return std::any_of(interfaces.cbegin(), interfaces.cend(),
                       [address](const NetworkInterface &interface) { return isOnNetwork(address, interface); });
}

ResponderPlace placeOf(quint32 address, const QList<NetworkInterface> &interfaces)
{
    if (isOnAnyNetwork(address, interfaces))
        return ResponderPlace::OnNetwork;
    return networkOf(address, 16) == 0xA9FE0000u ? ResponderPlace::LinkLocal : ResponderPlace::OffNetwork;
}

QList<LocalRange> localScanRanges(const QList<NetworkInterface> &interfaces)
{
    QList<LocalRange> ranges;
    for (const NetworkInterface &interface : interfaces) {
        if (!(interface.flags & IFF_UP) || (interface.flags & IFF_LOOPBACK) || interface.prefixLength >= 32)
            continue;
        const int prefix = interface.prefixLength < 16 ? 24 : interface.prefixLength;
        const QString network = octetsToString(split_to_octets(networkOf(interface.address, prefix)));
        const QString range = QStringLiteral("%1/%2").arg(network).arg(prefix);
        if (std::none_of(ranges.cbegin(), ranges.cend(), [&](const LocalRange &other) { return other.range == range; }))
            ranges.append({range, QStringLiteral("%1 \u2014 %2").arg(range, interface.name)});
    }
    return ranges;
}

bool enableArrivalInterface(int fd)
{
    const int on = 1;
    return setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) == 0;
}

std::optional<ReceivedDatagram> receiveWithInterface(int fd, std::span<char> buffer)
{
    ReceivedDatagram received;
    iovec part{buffer.data(), buffer.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr message{};
    message.msg_name = &received.from;
    message.msg_namelen = sizeof received.from;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t size = recvmsg(fd, &message, 0);
    if (size < 0)
        return std::nullopt;
    received.size = size;
    for (cmsghdr *header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(header), sizeof info);
            received.interfaceIndex = unsigned(info.ipi_ifindex);
        }
    }
    return received;
}
