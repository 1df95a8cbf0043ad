#include "localnet/hostaddresses.h"

#include <linux/rtnetlink.h>

HostAddresses::HostAddresses(const QList<RouteEntry> &routes, const QList<NetworkInterface> &interfaces)
{
    for (const RouteEntry &route : routes) {
        if (route.table == RT_TABLE_LOCAL && route.type == RTN_BROADCAST && route.prefixLength == 32)
            m_broadcasts.insert(route.destination);
    }
    // A /31 or /32 has no broadcast or network address: both of a /31's are hosts.
    for (const NetworkInterface &interface : interfaces) {
        if (interface.prefixLength < 1 || interface.prefixLength > 30)
            continue;
        const quint32 network = networkOf(interface.address, interface.prefixLength);
        m_broadcasts.insert(network);
        m_broadcasts.insert(network | (0xFFFFFFFFu >> interface.prefixLength));
    }
}

bool HostAddresses::isHostAddress(quint32 address) const
{
    const quint32 first = address >> 24;
    return first != 0 && first < 224 && !m_broadcasts.contains(address);
}
