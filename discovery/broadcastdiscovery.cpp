#include "discovery/broadcastdiscovery.h"

#include "address/socketaddress.h"
#include "discovery/datagram.h"
#include "discovery/interfacedatagrams.h"
#include "discovery/replylookups.h"
#include "platform/addresstext.h"
#include "platform/log.h"
#include "platform/lookuppool.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

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

} // namespace

QList<BroadcastTarget> everyInterface(const QList<unsigned> &interfaceIndexes)
{
    QList<BroadcastTarget> targets;
    for (const unsigned index : interfaceIndexes)
        targets.append({Address::ipv4(INADDR_BROADCAST), index});
    return targets;
}

std::optional<QList<ResponderEntry>> runBroadcastDiscovery(const BroadcastProtocol &protocol,
                                                           const BroadcastSetting &setting, std::stop_token stop)
{
    const QList<BroadcastTarget> &targets = setting.targets;
    const auto note = [&](auto change) {
        if (setting.report)
            setting.report->change(change);
    };
    // A request that cannot go out: the perror line, and why in the report.
    const auto failed = [&](const char *perrorText, const QString &why) {
        const int error = errno;
        std::perror(perrorText);
        const QString reason = why + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
        note([&](DiscoveryReport &report) { report.noteSetUpFailed(protocol.name, reason); });
        return std::nullopt;
    };
    const SteadyClock::time_point started = SteadyClock::now();
    logLine(lcDiscovery, protocol.starting);

    // A socket that could not be made shows as the failure of the first option. Children
    // (the browser that "Open" starts) must not inherit it.
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const SocketCloser closer(fd);
    const int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
        return failed(protocol.broadcastFailure, QStringLiteral("the discovery socket could not be set up"));
    const timeval timeout{1, 0};
    if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) < 0)
        return failed(protocol.timeoutFailure, QStringLiteral("the discovery socket could not be set up"));
    // Which interface each reply came in on, for the report; a socket without it still works.
    enableArrivalInterface(fd);
    if (setting.replyPort != 0) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(setting.replyPort);
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        if (bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0)
            return failed(protocol.bindFailure, QStringLiteral("the reply port %1 could not be bound").arg(setting.replyPort));
    }
    if (targets.isEmpty()) {
        errno = ENETUNREACH;
        return failed(protocol.sendFailure, QStringLiteral("no network interface is up that can broadcast"));
    }
    int sent = 0;
    for (const BroadcastTarget &target : targets) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(protocol.port);
        const std::optional<quint32> address = target.address.ipv4();
        const bool addressed = address.has_value();
        to.sin_addr.s_addr = htonl(address.value_or(0));
        if (!addressed)
            errno = EINVAL;
        if (addressed && sendThroughInterface(fd, protocol.request, to, target.interfaceIndex)) {
            ++sent;
            note([&](DiscoveryReport &report) { report.noteSent(protocol.name, target.interfaceIndex); });
            continue;
        }
        const int error = errno;
        if (targets.size() > 1)
            std::perror(protocol.sendFailure);
        note([&](DiscoveryReport &report) {
            report.noteNotSent(protocol.name, target.interfaceIndex, QString::fromLocal8Bit(std::strerror(error)));
        });
        errno = error;
    }
    if (sent == 0) {
        if (targets.size() == 1)
            std::perror(protocol.sendFailure);
        return std::nullopt;
    }
    logLine(lcDiscovery, protocol.sent);

    // A stop wakes a receive that is waiting. Ends before the socket closes.
    const std::stop_callback wake(stop, [fd] { shutdown(fd, SHUT_RDWR); });
    ReplyLookups lookups(setting.resolver, stop, setting.lookUpCap,
                         setting.report ? setting.report->interfaces() : QList<NetworkInterface>());
    // Tested only between receives: a receive already waiting runs to its end. The name
    // look-ups run beside the loop, so every reply that comes in the window is read.
    const SteadyClock::time_point close = windowClose();
    while (SteadyClock::now() < close && !stop.stop_requested()) {
        std::array<char, receiveBufferBytes> buffer;
        const std::optional<ReceivedDatagram> received = receiveWithInterface(fd, buffer);
        if (stop.stop_requested())
            break;
        if (!received) {
            logLine(lcDiscovery, "Waiting for discovery responses...");
            continue;
        }
        // Where the reply's address enters: from here on it is a value.
        const Address from = addressOf(reinterpret_cast<const sockaddr &>(received->from));
        const QString address = addressText(from);
        logLine(lcDiscovery, protocol.response, address);
        const QByteArrayView datagram(buffer.data(), received->size);
        const bool valid = protocol.isReply(datagram);
        note([&](DiscoveryReport &report) { report.noteReply(protocol.name, received->interfaceIndex, valid); });
        if (!valid) {
            logLine(lcDiscovery, "Bad UDP packet: '%s' from %@", badPacketBytes(datagram), address);
            continue;
        }
        lookups.add(from, received->interfaceIndex);
    }
    const QList<ResponderEntry> responders = lookups.entries(close + LookupPool::budget);

    logLine(lcDiscovery, protocol.finished, std::chrono::duration<double>(SteadyClock::now() - started).count());
    return responders;
}
