#include "localnet/networkinterfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

#include <algorithm>
#include <bit>

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

QString dottedQuad(quint32 address)
{
    return QStringLiteral("%1.%2.%3.%4").arg(address >> 24).arg((address >> 16) & 0xFF).arg((address >> 8) & 0xFF).arg(address & 0xFF);
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
        const QString network = dottedQuad(networkOf(interface.address, prefix));
        const QString range = QStringLiteral("%1/%2").arg(network).arg(prefix);
        if (std::none_of(ranges.cbegin(), ranges.cend(), [&](const LocalRange &other) { return other.range == range; }))
            ranges.append({range, QStringLiteral("%1 \u2014 %2").arg(range, interface.name)});
    }
    return ranges;
}
