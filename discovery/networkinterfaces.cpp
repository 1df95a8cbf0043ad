#include "discovery/networkinterfaces.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

#include <cstring>

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
        interfaces.append({name, if_nametoindex(name.toLocal8Bit().constData()), at->ifa_flags});
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
