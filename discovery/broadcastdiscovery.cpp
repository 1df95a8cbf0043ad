#include "discovery/broadcastdiscovery.h"

#include "discovery/datagram.h"
#include "platform/log.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr std::size_t receiveBufferBytes = 512;
constexpr double windowSeconds = 3.0;

// Closes the socket on every path out of the discovery.
class SocketCloser final {
public:
    explicit SocketCloser(int fd) : m_fd(fd) {}
    ~SocketCloser()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    SocketCloser(const SocketCloser &) = delete;
    SocketCloser &operator=(const SocketCloser &) = delete;

private:
    int m_fd;
};

// The window opens at the wall clock's whole second and so closes 2 to 3 s later. It is
// measured on the steady clock, so that setting the wall clock cannot stretch it.
SteadyClock::time_point windowClose()
{
    const auto wall = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    const double remaining = windowSeconds - (wall - std::trunc(wall));
    return SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(remaining));
}

QString addressText(const in_addr &address)
{
    std::array<char, INET_ADDRSTRLEN> text{};
    inet_ntop(AF_INET, &address, text.data(), socklen_t(text.size()));
    return QString::fromLatin1(text.data());
}

// The getnameinfo name when it reads as ASCII text of more than 2 characters, otherwise the
// address text.
QString hostnameOf(const QByteArray &name, const QString &address)
{
    const bool ascii = std::all_of(name.cbegin(), name.cend(), [](char c) { return (static_cast<unsigned char>(c)) < 0x80; });
    if (!ascii || name.size() <= 2)
        return address;
    return QString::fromLatin1(name);
}

} // namespace

const BroadcastProtocol &xpicoProtocol()
{
    static const BroadcastProtocol protocol{
        QByteArray("\x00\x01\x00\xF6", 4),
        30718,
        isXpicoReply,
        "Starting XPico discovery...",
        "setsockopt() SO_BROADCAST failed",
        "setsockopt() timeout failed",
        "sendto() failed",
        "XPico Broadcast sent",
        "XPico disco response from %@",
        "XPico Discovery finished after %fs",
    };
    return protocol;
}

const BroadcastProtocol &corvaProtocol()
{
    static const BroadcastProtocol protocol{
        QByteArray("Zeph", 4),
        23109,
        isCorvaReply,
        "Starting Corva discovery...",
        "setsockopt SO_BROADCAST failed",
        "setsockopt SO_RCVTIMEO failed",
        "sendto failed",
        "Broadcast sent",
        "Corva disco response from %@",
        "Corva Disco finished after %fs",
    };
    return protocol;
}

std::optional<QList<ResponderEntry>> runBroadcastDiscovery(const BroadcastProtocol &protocol,
                                                           const QString &destination, Resolver &resolver)
{
    const SteadyClock::time_point started = SteadyClock::now();
    QList<ResponderEntry> responders;
    logLine(lcDiscovery, protocol.starting);

    // A socket that could not be made shows as the failure of the first option.
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const SocketCloser closer(fd);
    const int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        std::perror(protocol.broadcastFailure);
        return std::nullopt;
    }
    const timeval timeout{1, 0};
    if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) < 0) {
        std::perror(protocol.timeoutFailure);
        return std::nullopt;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(protocol.port);
    const bool addressed = inet_aton(destination.toLatin1().constData(), &to.sin_addr) != 0;
    if (!addressed)
        errno = EINVAL;
    if (!addressed
        || sendto(fd, protocol.request.constData(), std::size_t(protocol.request.size()), 0,
                  reinterpret_cast<const sockaddr *>(&to), sizeof to)
               < 0) {
        std::perror(protocol.sendFailure);
        return std::nullopt;
    }
    logLine(lcDiscovery, protocol.sent);

    // Tested only between receives: a receive already waiting, and the look-ups of a reply
    // that has come, run to their end.
    const SteadyClock::time_point close = windowClose();
    while (SteadyClock::now() < close) {
        std::array<char, receiveBufferBytes> buffer;
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t received =
            recvfrom(fd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr *>(&from), &fromLength);
        if (received < 0) {
            logLine(lcDiscovery, "Waiting for discovery responses...");
            continue;
        }
        const QString address = addressText(from.sin_addr);
        logLine(lcDiscovery, protocol.response, address);
        const QByteArrayView datagram(buffer.data(), received);
        if (!protocol.isReply(datagram)) {
            logLine(lcDiscovery, "Bad UDP packet: '%s' from %@", badPacketText(datagram), address);
            continue;
        }
        ResponderEntry entry{address, std::nullopt, address};
        QByteArray failure;
        const std::optional<QByteArray> name = resolver.nameInfo(ntohl(from.sin_addr.s_addr), &failure);
        if (!name) {
            // As perror writes it, with getnameinfo's own description: it does not set errno.
            std::fprintf(stderr, "getnameinfo failed: %s\n", failure.constData());
        } else {
            entry.hostname = hostnameOf(*name, address);
            entry.redirectAddress = resolver.hostName(address).value_or(address);
        }
        responders.append(entry);
    }

    logLine(lcDiscovery, protocol.finished, std::chrono::duration<double>(SteadyClock::now() - started).count());
    return responders;
}
