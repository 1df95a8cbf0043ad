#include "discovery/interfacedatagrams.h"

#include <sys/socket.h>

#include <cstring>

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
