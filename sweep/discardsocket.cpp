#include "sweep/discardsocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr quint16 discardPort = 9;
// A datagram waiting for its address to resolve holds its share of the send buffer until
// then, for up to 3 s: room for a few hundred of them. The system may grant less.
constexpr int sendBufferSize = 1024 * 1024;

} // namespace

DiscardSocket::DiscardSocket()
{
    m_descriptor = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_descriptor < 0) {
        m_openError = errno;
        return;
    }
    setsockopt(m_descriptor, SOL_SOCKET, SO_SNDBUF, &sendBufferSize, sizeof sendBufferSize);
    // Whatever arrives is never read: the smallest buffer the system allows holds it.
    const int smallest = 1;
    setsockopt(m_descriptor, SOL_SOCKET, SO_RCVBUF, &smallest, sizeof smallest);
}

DiscardSocket::~DiscardSocket()
{
    if (m_descriptor >= 0)
        close(m_descriptor);
}

DiscardSocket::SendResult DiscardSocket::send(quint32 address)
{
    if (m_descriptor < 0) {
        errno = EBADF;
        return SendResult::Failed;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(discardPort);
    to.sin_addr.s_addr = htonl(address);
    if (sendto(m_descriptor, nullptr, 0, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0)
        return SendResult::Sent;
    return errno == EAGAIN || errno == EWOULDBLOCK ? SendResult::Full : SendResult::Failed;
}
