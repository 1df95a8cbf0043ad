#include "localnet/networkinterfaces.h"
#include "scan/rangeexpression.h"

#include <QTest>

#include <arpa/inet.h>
#include <net/if.h>

using namespace Qt::StringLiterals;

namespace {

constexpr unsigned up = IFF_UP | IFF_BROADCAST;

quint32 ip(const char *text)
{
    return ntohl(inet_addr(text));
}

} // namespace

// The computer's own networks, judged from made-up interface lists.
class TestNetworkInterfaces final : public QObject {
    Q_OBJECT

private slots:
    // Loopback, down and non-broadcast interfaces get no request; one of two addresses gets one.
    void broadcastChoice()
    {
        const unsigned running = IFF_UP | IFF_RUNNING;
        const QList<NetworkInterface> interfaces{{u"lo"_s, 1, running | IFF_LOOPBACK | IFF_BROADCAST},
                                                 {u"eth0"_s, 2, running | IFF_BROADCAST | IFF_MULTICAST},
                                                 {u"eth0"_s, 2, running | IFF_BROADCAST | IFF_MULTICAST},
                                                 {u"wlan0"_s, 3, IFF_BROADCAST},
                                                 {u"tun0"_s, 4, running | IFF_POINTOPOINT},
                                                 {u"eth1"_s, 5, running | IFF_BROADCAST}};
        QCOMPARE(broadcastInterfaces(interfaces), (QList<unsigned>{2, 5}));
    }

    // A laptop (idle bridge, VPN /16, self-assigned address, Wi-Fi, point-to-point /31): only
    // networks that can hold devices are scanned, each once, a wide one as the /24 around each
    // address (the range box offers it whole too); every range is one the scan reads.
    void localNetworks()
    {
        const QList<NetworkInterface> interfaces{
            {u"lo"_s, 1, up | IFF_LOOPBACK | IFF_RUNNING, ip("127.0.0.1"), 8},
            {u"wlan0"_s, 2, up | IFF_RUNNING, ip("192.168.7.20"), 24},
            {u"wlan0"_s, 2, up | IFF_RUNNING, ip("192.168.7.21"), 24},
            {u"docker0"_s, 3, up, ip("172.17.0.1"), 16},
            {u"tun0"_s, 4, IFF_UP | IFF_POINTOPOINT | IFF_RUNNING, ip("10.200.7.9"), 16},
            {u"eth0"_s, 5, up | IFF_RUNNING, ip("169.254.3.4"), 16},
            {u"eth1"_s, 6, IFF_BROADCAST, ip("198.18.9.1"), 24},
            {u"ppp0"_s, 7, IFF_UP | IFF_RUNNING, ip("100.64.0.9"), 32},
            {u"eth2"_s, 8, up | IFF_RUNNING, ip("198.19.1.7"), 22},
            {u"tap0"_s, 9, up | IFF_RUNNING, ip("10.200.9.1"), 16},
            {u"tap1"_s, 10, up | IFF_RUNNING, ip("10.200.7.10"), 16},
            {u"tap2"_s, 11, IFF_BROADCAST, ip("10.200.5.5"), 16},
            {u"eth3"_s, 12, up | IFF_RUNNING, ip("198.18.4.3"), 31}};
        QStringList lines;
        for (const LocalNetwork &network : ::localNetworks(interfaces))
            lines.append(network.description());
        QCOMPARE(lines, (QStringList{
                            u"Leaving out 127.0.0.0/8 on lo: loopback"_s,
                            u"Scanning 192.168.7.0/24 on wlan0"_s,
                            u"Leaving out 172.17.0.0/16 on docker0: the interface has no carrier"_s,
                            u"Scanning 10.200.7.0/24 on tun0, the /24 around this computer's address: 10.200.0.0/16 is "
                            "wider than a /22"_s,
                            u"Leaving out 169.254.0.0/16 on eth0: a self-assigned address, while this computer has other "
                            "networks"_s,
                            u"Leaving out 198.18.9.0/24 on eth1: the interface is down"_s,
                            u"Leaving out 100.64.0.9/32 on ppp0: it holds this computer alone"_s,
                            u"Scanning 198.19.0.0/22 on eth2"_s,
                            u"Scanning 10.200.9.0/24 on tap0, the /24 around this computer's address: 10.200.0.0/16 is "
                            "wider than a /22"_s,
                            u"Scanning 198.18.4.2/31 on eth3"_s}));
        const QList<LocalRange> ranges = localScanRanges(interfaces);
        QCOMPARE(ranges, (QList<LocalRange>{{u"192.168.7.0/24"_s, u"192.168.7.0/24 \u2014 wlan0"_s},
                                            {u"10.200.7.0/24"_s, u"10.200.7.0/24 \u2014 tun0"_s},
                                            {u"10.200.0.0/16"_s, u"10.200.0.0/16 \u2014 tun0, 65,536 addresses"_s},
                                            {u"198.19.0.0/22"_s, u"198.19.0.0/22 \u2014 eth2"_s},
                                            {u"10.200.9.0/24"_s, u"10.200.9.0/24 \u2014 tap0"_s},
                                            {u"198.18.4.2/31"_s, u"198.18.4.2/31 \u2014 eth3"_s}}));
        QList<qint64> sizes;
        for (const LocalRange &range : ranges)
            sizes.append(get_ip_range(range.range).size());
        QCOMPARE(sizes, (QList<qint64>{256, 256, 65536, 1024, 256, 2}));

        // A self-assigned address alone is scanned, around the address.
        const QList<LocalNetwork> alone = ::localNetworks({interfaces.at(0), interfaces.at(5)});
        QCOMPARE(alone.at(1).range, u"169.254.3.0/24"_s);
    }
};

QTEST_GUILESS_MAIN(TestNetworkInterfaces)
#include "tst_networkinterfaces.moc"
