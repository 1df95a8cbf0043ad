#include "sweep/neighboursocket.h"

#include <libmnl/libmnl.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Larger than any datagram the kernel makes for a dump, so that none is cut short.
constexpr std::size_t readBufferSize = 64 * 1024;
// Room for a burst of changes while the loop is busy; the system may grant less.
constexpr int receiveBufferSize = 1024 * 1024;

} // namespace

NeighbourSocket::NeighbourSocket()
{
    m_socket = mnl_socket_open2(NETLINK_ROUTE, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (!m_socket) {
        m_openError = errno;
        return;
    }
    unsigned group = RTNLGRP_NEIGH;
    const int descriptor = mnl_socket_get_fd(m_socket);
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    const bool ready = mnl_socket_bind(m_socket, 0, MNL_SOCKET_AUTOPID) == 0
                       && mnl_socket_setsockopt(m_socket, NETLINK_ADD_MEMBERSHIP, &group, sizeof group) == 0
                       && connect(descriptor, reinterpret_cast<const sockaddr *>(&kernel), sizeof kernel) == 0;
    if (!ready) {
        m_openError = errno;
        mnl_socket_close(m_socket);
        m_socket = nullptr;
        return;
    }
    setsockopt(descriptor, SOL_SOCKET, SO_RCVBUF, &receiveBufferSize, sizeof receiveBufferSize);
    m_buffer.resize(readBufferSize);
}

NeighbourSocket::~NeighbourSocket()
{
    if (m_socket)
        mnl_socket_close(m_socket);
}

int NeighbourSocket::descriptor() const
{
    return m_socket ? mnl_socket_get_fd(m_socket) : -1;
}

bool NeighbourSocket::requestDump(quint32 sequence)
{
    if (!m_socket) {
        errno = EBADF;
        return false;
    }
    const QByteArray request = neighbourDumpRequest(sequence);
    return mnl_socket_sendto(m_socket, request.constData(), std::size_t(request.size())) == request.size();
}

NeighbourSocket::Read NeighbourSocket::read()
{
    if (!m_socket)
        return {ReadStatus::Failed, {}, EBADF};
    const ssize_t size = mnl_socket_recvfrom(m_socket, m_buffer.data(), m_buffer.size());
    if (size >= 0)
        return {ReadStatus::Messages, parseNeighbourMessages(QByteArrayView(m_buffer.data(), qsizetype(size))), 0};
    const int error = errno;
    if (error == EAGAIN || error == EWOULDBLOCK)
        return {ReadStatus::Nothing, {}, 0};
    // ENOSPC: libmnl's word for a datagram cut short, whose rest is gone.
    if (error == ENOBUFS || error == ENOSPC)
        return {ReadStatus::Lost, {}, error};
    return {ReadStatus::Failed, {}, error};
}
