#include "localnet/networkinterfaces.h"

#include "platform/addresstext.h"
#include "platform/englishtext.h"

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

QList<LocalNetwork> localNetworks(const QList<NetworkInterface> &interfaces)
{
    // The widest network scanned whole; a wider one is scanned around the computer's address.
    constexpr int widestWhole = 22;
    constexpr int aroundPrefix = 24;
    QList<LocalNetwork> networks;
    for (const NetworkInterface &interface : interfaces) {
        const int prefix = std::clamp(interface.prefixLength, 0, 32);
        LocalNetwork network;
        network.interface = interface.name;
        network.address = interface.address;
        network.network = QStringLiteral("%1/%2").arg(dottedQuad(networkOf(interface.address, prefix))).arg(prefix);
        network.size = quint64(1) << (32 - prefix);
        if (!(interface.flags & IFF_UP))
            network.choice = LocalNetwork::Choice::Down;
        else if (interface.flags & IFF_LOOPBACK)
            network.choice = LocalNetwork::Choice::Loopback;
        else if (!(interface.flags & IFF_RUNNING))
            network.choice = LocalNetwork::Choice::NoCarrier;
        // A /31 is a point-to-point link of two hosts, the other end a peer worth asking.
        else if (prefix == 32)
            network.choice = LocalNetwork::Choice::OnlyThisComputer;
        else if (placeOf(interface.address, {}) == ResponderPlace::LinkLocal)
            network.choice = LocalNetwork::Choice::LinkLocal;
        else if (prefix < widestWhole)
            network.choice = LocalNetwork::Choice::AroundAddress;
        networks.append(network);
    }
    const auto scans = [](const LocalNetwork &network) {
        return network.choice == LocalNetwork::Choice::Whole || network.choice == LocalNetwork::Choice::AroundAddress;
    };
    // A self-assigned address is left out for networks that can hold devices, unless it is
    // all there is.
    const bool onlyLinkLocal = std::none_of(networks.cbegin(), networks.cend(), scans);
    for (LocalNetwork &network : networks) {
        if (network.choice == LocalNetwork::Choice::LinkLocal && onlyLinkLocal)
            network.choice = LocalNetwork::Choice::AroundAddress;
        if (network.choice == LocalNetwork::Choice::Whole)
            network.range = network.network;
        else if (network.choice == LocalNetwork::Choice::AroundAddress)
            network.range = QStringLiteral("%1/%2").arg(dottedQuad(networkOf(network.address, aroundPrefix))).arg(aroundPrefix);
    }
    // Each range scanned once, and each network left out once unless it is scanned: of two
    // interfaces on one wide network, each gives the /24 around its own address.
    QList<LocalNetwork> distinct;
    for (const LocalNetwork &network : std::as_const(networks)) {
        const auto same = std::find_if(distinct.begin(), distinct.end(), [&](const LocalNetwork &other) {
            return scans(network) && scans(other) ? other.range == network.range : other.network == network.network;
        });
        if (same == distinct.end())
            distinct.append(network);
        else if (!scans(*same) && scans(network))
            *same = network;
    }
    return distinct;
}

QString LocalNetwork::description() const
{
    const QString on = QStringLiteral("%1 on %2").arg(network, interface);
    switch (choice) {
    case Choice::Whole:
        return QStringLiteral("Scanning %1").arg(on);
    case Choice::AroundAddress:
        return QStringLiteral("Scanning %1 on %2, the /24 around this computer's address: %3 is wider than a /22")
            .arg(range, interface, network);
    case Choice::Down:
        return QStringLiteral("Leaving out %1: the interface is down").arg(on);
    case Choice::NoCarrier:
        return QStringLiteral("Leaving out %1: the interface has no carrier").arg(on);
    case Choice::Loopback:
        return QStringLiteral("Leaving out %1: loopback").arg(on);
    case Choice::LinkLocal:
        return QStringLiteral("Leaving out %1: a self-assigned address, while this computer has other networks").arg(on);
    case Choice::OnlyThisComputer:
        break;
    }
    return QStringLiteral("Leaving out %1: it holds this computer alone").arg(on);
}

QList<LocalRange> localScanRanges(const QList<NetworkInterface> &interfaces)
{
    // The most a scan takes.
    constexpr quint64 maxWholeOffered = quint64(1) << 24;
    QList<LocalRange> ranges;
    for (const LocalNetwork &network : localNetworks(interfaces)) {
        if (!network.isTaken())
            continue;
        ranges.append({network.range, QStringLiteral("%1 \u2014 %2").arg(network.range, network.interface)});
        // Offered once, though several interfaces lie on it.
        const bool offered = std::any_of(ranges.cbegin(), ranges.cend(),
                                         [&](const LocalRange &range) { return range.range == network.network; });
        if (network.choice == LocalNetwork::Choice::AroundAddress && network.size <= maxWholeOffered && !offered)
            ranges.append({network.network, QStringLiteral("%1 \u2014 %2, %3 addresses")
                                                .arg(network.network, network.interface, groupedNumber(network.size))});
    }
    return ranges;
}
