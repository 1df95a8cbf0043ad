#include "localnet/linkroutes.h"

#include <libmnl/libmnl.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

bool covers(const RouteEntry &route, quint32 address)
{
    return networkOf(address, route.prefixLength) == networkOf(route.destination, route.prefixLength);
}

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The kernel's IPv4 routes, every table; nothing, with why, when they cannot be read.
std::optional<QList<RouteEntry>> kernelRoutes(QString *why)
{
    mnl_socket *const socket = mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC);
    if (!socket) {
        *why = errorText(errno);
        return std::nullopt;
    }
    // The kernel answers at once; a second without a datagram is a fault.
    const timeval patience{1, 0};
    setsockopt(mnl_socket_get_fd(socket), SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    constexpr quint32 sequence = 1;
    const QByteArray request = routeDumpRequest(sequence);
    std::optional<QList<RouteEntry>> routes;
    if (mnl_socket_bind(socket, 0, MNL_SOCKET_AUTOPID) != 0
        || mnl_socket_sendto(socket, request.constData(), std::size_t(request.size())) != request.size()) {
        *why = errorText(errno);
        mnl_socket_close(socket);
        return routes;
    }
    std::vector<char> buffer(64 * 1024);
    QList<RouteEntry> read;
    for (;;) {
        const ssize_t size = mnl_socket_recvfrom(socket, buffer.data(), buffer.size());
        if (size < 0) {
            *why = errorText(errno);
            break;
        }
        const RouteMessages messages = parseRouteMessages(QByteArrayView(buffer.data(), qsizetype(size)));
        read += messages.routes;
        if (messages.status.error != 0 || messages.status.dumpInterrupted) {
            *why = messages.status.error ? errorText(messages.status.error) : QStringLiteral("the table changed while read");
            break;
        }
        if (read.size() > LinkRoutes::maxRoutes) {
            *why = QStringLiteral("more than %1 routes").arg(LinkRoutes::maxRoutes);
            break;
        }
        if (messages.status.dumpDone) {
            routes = std::move(read);
            break;
        }
    }
    mnl_socket_close(socket);
    return routes;
}

} // namespace

LinkRoutes::LinkRoutes(const QList<RouteEntry> &routes, const QList<NetworkInterface> &interfaces)
    : m_hosts(routes, interfaces)
{
    if (routes.size() > maxRoutes)
        return;
    for (const RouteEntry &route : routes) {
        if (route.table == RT_TABLE_LOCAL)
            m_local.append(route);
        else if (route.table == RT_TABLE_MAIN)
            m_main.append(route);
    }
    std::stable_sort(m_main.begin(), m_main.end(), [](const RouteEntry &a, const RouteEntry &b) {
        return a.prefixLength != b.prefixLength ? a.prefixLength > b.prefixLength : a.priority < b.priority;
    });
    const unsigned unfit = IFF_LOOPBACK | IFF_POINTOPOINT | IFF_NOARP;
    for (const NetworkInterface &interface : interfaces) {
        const bool resolves = (interface.flags & IFF_UP) && (interface.flags & IFF_RUNNING) && !(interface.flags & unfit);
        if (resolves && !m_linkInterfaces.contains(int(interface.index)))
            m_linkInterfaces.append(int(interface.index));
    }
}

std::optional<LinkRoutes> LinkRoutes::read(QString *why)
{
    const std::optional<QList<RouteEntry>> routes = kernelRoutes(why);
    if (!routes)
        return std::nullopt;
    return LinkRoutes(*routes, ipv4Interfaces());
}

bool LinkRoutes::isOnLink(quint32 address) const
{
    if (m_linkInterfaces.isEmpty() || !m_hosts.isHostAddress(address))
        return false;
    // The kernel looks at the local table first.
    if (std::any_of(m_local.cbegin(), m_local.cend(), [address](const RouteEntry &route) { return covers(route, address); }))
        return false;
    const auto taken = std::find_if(m_main.cbegin(), m_main.cend(),
                                    [address](const RouteEntry &route) { return covers(route, address); });
    return taken != m_main.cend() && taken->type == RTN_UNICAST && !taken->viaGateway
           && m_linkInterfaces.contains(taken->interfaceIndex);
}

int LinkRoutes::linkInterface(quint32 address) const
{
    if (!isOnLink(address))
        return 0;
    return std::find_if(m_main.cbegin(), m_main.cend(), [address](const RouteEntry &route) {
        return covers(route, address);
    })->interfaceIndex;
}

bool LinkRoutes::mayBeOnLink(quint32 first, quint32 last) const
{
    return std::any_of(m_main.cbegin(), m_main.cend(), [&](const RouteEntry &route) {
        const quint32 low = networkOf(route.destination, route.prefixLength);
        const quint32 high = route.prefixLength >= 32 ? low : low | (0xFFFFFFFFu >> route.prefixLength);
        return route.type == RTN_UNICAST && !route.viaGateway && m_linkInterfaces.contains(route.interfaceIndex)
               && low <= last && first <= high;
    });
}
