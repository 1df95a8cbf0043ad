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

// The computer's own networks, judged from made-up interface lists: none of them is this
// machine's.
class TestNetworkInterfaces final : public QObject {
    Q_OBJECT

private slots:
    // Loopback, interfaces that are down and those that cannot broadcast get no request;
    // an interface with two addresses gets one.
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

    // Up and not loopback, each network once, wider than a /16 as the /24 around the address,
    // and every one a range the scan reads.
    void localRanges()
    {
        const QList<NetworkInterface> interfaces{
            {u"lo"_s, 1, IFF_UP | IFF_LOOPBACK, ip("127.0.0.1"), 8},   {u"eth1"_s, 2, up, ip("10.241.67.12"), 8},
            {u"eth1"_s, 2, up, ip("10.241.67.13"), 8},                  {u"eth2"_s, 4, up, ip("172.16.5.9"), 16},
            {u"eth3"_s, 5, up, ip("172.20.200.1"), 12},                 {u"eth4"_s, 6, IFF_BROADCAST, ip("192.168.9.1"), 24},
            {u"tun0"_s, 7, IFF_UP | IFF_POINTOPOINT, ip("10.8.0.6"), 32}, {u"ppp0"_s, 8, IFF_UP, ip("100.64.0.9"), 30}};
        const QList<LocalRange> ranges = localScanRanges(interfaces);
        QCOMPARE(ranges, (QList<LocalRange>{{u"10.241.67.0/24"_s, u"10.241.67.0/24 \u2014 eth1"_s},
                                            {u"172.16.0.0/16"_s, u"172.16.0.0/16 \u2014 eth2"_s},
                                            {u"172.20.200.0/24"_s, u"172.20.200.0/24 \u2014 eth3"_s},
                                            {u"100.64.0.8/30"_s, u"100.64.0.8/30 \u2014 ppp0"_s}}));
        QList<qint64> sizes;
        for (const LocalRange &range : ranges)
            sizes.append(get_ip_range(range.range).size());
        QCOMPARE(sizes, (QList<qint64>{256, 65536, 256, 4}));
    }
};

QTEST_GUILESS_MAIN(TestNetworkInterfaces)
#include "tst_networkinterfaces.moc"
