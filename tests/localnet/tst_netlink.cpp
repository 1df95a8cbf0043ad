#include "localnet/linkroutes.h"
#include "localnet/neighbourmessages.h"

#include <QFile>
#include <QHostAddress>
#include <QTest>

#include <climits>
#include <cstring>
#include <linux/rtnetlink.h>
#include <net/if.h>

using namespace Qt::StringLiterals;

namespace {

// Datagrams a kernel's rtnetlink socket gave in a sandbox (the fuzz target's seeds). Neighbours:
// over a veth, 198.18.5.10, .20 and .77 answer, .30 and .99 do not. Routes: the veth (index 2)
// holds 198.18.5.254/24; a default route and 198.18.0.0/16 via 198.18.5.1, 198.18.7.7 on the
// link, a blackhole 198.18.9.0/24, the local table's entries, the dump's end.
QByteArray recorded(const char *name)
{
    QFile file(QFINDTESTDATA(u"fuzz/seeds/neighbours/"_s + QLatin1StringView(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The entries, then the datagram's status.
QString joined(QStringList parts, const NetlinkStatus &status)
{
    const auto flag = [&](bool set, const QString &text) { if (set) parts << text; };
    flag(status.dumpDone, u"done"_s);
    flag(status.dumpInterrupted, u"interrupted"_s);
    flag(status.error, u"error %1"_s.arg(status.error));
    flag(status.sequence, u"seq %1"_s.arg(status.sequence));
    return parts.join(u", "_s);
}

// Each entry as "address@interface state", a dump's marked.
QString summary(const NeighbourMessages &messages)
{
    static const QString states[] = {u"unknown"_s, u"someone"_s, u"nobody"_s};
    QStringList parts;
    for (const NeighbourEntry &entry : messages.entries) {
        parts << u"%1@%2 %3%4"_s.arg(QHostAddress(entry.address).toString()).arg(entry.interfaceIndex)
                     .arg(states[int(entry.state)], entry.fromDump ? u" dump"_s : QString());
    }
    return joined(parts, messages.status);
}

// Each route as "destination/length table type", "gw" when through a router, "@interface".
QString summary(const RouteMessages &messages)
{
    QStringList parts;
    for (const RouteEntry &route : messages.routes) {
        parts << u"%1/%2 %3 %4%5@%6"_s.arg(QHostAddress(route.destination).toString()).arg(route.prefixLength)
                     .arg(route.table).arg(route.type).arg(route.viaGateway ? u" gw"_s : QString()).arg(route.interfaceIndex);
    }
    return joined(parts, messages.status);
}

QByteArray patched(QByteArray bytes, int offset, quint32 value, int size = 4)
{
    std::memcpy(bytes.data() + offset, &value, std::size_t(size));
    return bytes;
}

// An NLMSG_ERROR or NLMSG_DONE carrying this code.
QByteArray ending(quint16 type, quint16 flags, qint32 code)
{
    return patched(patched(patched(patched(QByteArray(16, '\0'), 0, 20), 4, type, 2), 6, flags, 2), 8, 9)
           + QByteArray(reinterpret_cast<const char *>(&code), sizeof code);
}

quint32 ip(const QString &text)
{
    return QHostAddress(text).toIPv4Address();
}

} // namespace

class TestNetlink final : public QObject {
    Q_OBJECT

private slots:
    void neighbours_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QString>("expected");
        const QByteArray emptyDump = recorded("empty-dump"), reachable = recorded("reachable"), failed = recorded("failed");
        const QString ten = u"198.18.5.10@2 someone"_s;
        QTest::newRow("an empty table's dump") << emptyDump << u"done, seq 77"_s;
        QTest::newRow("two changes") << reachable + failed << ten + u", 198.18.5.30@2 nobody"_s;
        QTest::newRow("deleted") << patched(failed, 4, 29, 2) << u"198.18.5.30@2 nobody"_s;
        QTest::newRow("IPv6 skipped") << patched(reachable, 16, 10, 1) << QString();
        QTest::newRow("a dump while resolving")
            << recorded("dump-resolving")
            << u"198.18.5.99@2 unknown dump, 198.18.5.30@2 unknown dump, 198.18.5.255@2 unknown dump, "
               "198.18.5.20@2 someone dump, 198.18.5.77@2 someone dump, 198.18.5.10@2 someone dump, done, seq 77"_s;
        QTest::newRow("stale, delay, probe, permanent, none")
            << patched(reachable, 24, 0x04, 2) + patched(reachable, 24, 0x08, 2) + patched(reachable, 24, 0x10, 2)
                   + patched(reachable, 24, 0x80, 2) + patched(reachable, 24, 0, 2)
            << QStringList(4, ten).join(u", "_s) + u", 198.18.5.10@2 unknown"_s;

        QTest::newRow("length of 2 GiB") << patched(reachable, 0, 0x80000010u) + QByteArray(64, '\0') << QString();
        QTest::newRow("address of 16 bytes") << patched(reachable, 28, 20, 2) << QString();
        // The address attribute ends a byte past the message, in the words' padding.
        QTest::newRow("address past the message's end") << patched(reachable.left(35), 0, 35) << QString();
        QTest::newRow("dump interrupted") << patched(emptyDump, 6, 0x12, 2) << u"done, interrupted, seq 77"_s;
        QTest::newRow("busy") << ending(2, 0, -16) << u"error 16, seq 9"_s;
        QTest::newRow("error of INT_MIN") << ending(2, 0, INT_MIN) << u"error %1, seq 9"_s.arg(INT_MAX);
        QTest::newRow("dump failed part way") << ending(3, 2, -4) << u"done, error 4, seq 9"_s;
    }

    // Every row is also read from an odd address: the parser may not rely on alignment.
    void neighbours()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(QString, expected);
        QCOMPARE(summary(parseNeighbourMessages(datagram)), expected);
        const QByteArray shifted = "x" + datagram;
        QCOMPARE(summary(parseNeighbourMessages(QByteArrayView(shifted).sliced(1))), expected);
    }

    void routes_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QString>("expected");
        QTest::newRow("a recorded dump")
            << recorded("routes")
            << u"0.0.0.0/0 254 1 gw@2, 198.18.0.0/16 254 1 gw@2, 198.18.5.0/24 254 1@2, 198.18.7.7/32 254 1@2, "
               "198.18.9.0/24 254 6@0, 127.0.0.0/8 255 2@1, 127.0.0.1/32 255 2@1, 127.255.255.255/32 255 3@1, "
               "198.18.5.254/32 255 2@2, 198.18.5.255/32 255 3@2, done, seq 77"_s;
        const QByteArray first = recorded("routes").left(52);
        QTest::newRow("IPv6 skipped") << patched(first, 16, 10, 1) << QString();
        QTest::newRow("prefix over 32 skipped") << patched(first, 17, 33, 1) << QString();
        QTest::newRow("no destination but a prefix") << patched(first, 17, 8, 1) << QString();
    }

    void routes()
    {
        QFETCH(QByteArray, datagram);
        QTEST(summary(parseRouteMessages(datagram)), "expected");
    }

    // The recorded table, with the veth up and running unless a row says otherwise, a /31
    // and a /30 beside it, and a made-up route that puts 224.0.0.0/3 on the link.
    void onLink_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<unsigned>("flags");
        QTest::addColumn<bool>("onLink");
        QTest::addColumn<bool>("host");
        const unsigned up = IFF_UP | IFF_RUNNING | IFF_BROADCAST;
        QTest::newRow("on the /24") << u"198.18.5.20"_s << up << true << true;
        QTest::newRow("this computer's own") << u"198.18.5.254"_s << up << false << true;
        QTest::newRow("through the router") << u"198.18.6.1"_s << up << false << true;
        QTest::newRow("a host route inside the routed /16") << u"198.18.7.7"_s << up << true << true;
        QTest::newRow("blackhole") << u"198.18.9.1"_s << up << false << true;
        QTest::newRow("the default route") << u"203.0.113.1"_s << up << false << true;
        QTest::newRow("no carrier") << u"198.18.5.20"_s << unsigned(IFF_UP | IFF_BROADCAST) << false << true;
        QTest::newRow("without ARP") << u"198.18.5.20"_s << unsigned(IFF_UP | IFF_RUNNING | IFF_NOARP) << false << true;
        // No host's addresses, whatever their routes.
        QTest::newRow("the /24's network address") << u"198.18.5.0"_s << up << false << false;
        QTest::newRow("the /24's broadcast address") << u"198.18.5.255"_s << up << false << false;
        QTest::newRow("a /31's address") << u"198.18.10.0"_s << up << false << true;
        QTest::newRow("a /30's broadcast address") << u"198.18.10.7"_s << up << false << false;
        QTest::newRow("multicast on the link") << u"224.0.0.251"_s << up << false << false;
        QTest::newRow("reserved on the link") << u"240.0.0.1"_s << up << false << false;
        QTest::newRow("limited broadcast on the link") << u"255.255.255.255"_s << up << false << false;
        QTest::newRow("this network") << u"0.0.0.0"_s << up << false << false;
    }

    void onLink()
    {
        QFETCH(QString, address);
        QFETCH(unsigned, flags);
        QFETCH(bool, onLink);
        const QList<NetworkInterface> interfaces{{u"lo"_s, 1, IFF_UP | IFF_RUNNING | IFF_LOOPBACK, ip(u"127.0.0.1"_s), 8},
                                                 {u"veth"_s, 2, flags, ip(u"198.18.5.254"_s), 24},
                                                 {u"p2p"_s, 3, IFF_UP | IFF_POINTOPOINT, ip(u"198.18.10.1"_s), 31},
                                                 {u"small"_s, 4, IFF_UP, ip(u"198.18.10.5"_s), 30}};
        const RouteEntry multicastOnLink{ip(u"224.0.0.0"_s), 3, RT_TABLE_MAIN, RTN_UNICAST, false, 2, 0};
        const LinkRoutes routes(parseRouteMessages(recorded("routes")).routes << multicastOnLink, interfaces);
        QCOMPARE(routes.isOnLink(ip(address)), onLink);
        QCOMPARE(routes.linkInterface(ip(address)), onLink ? 2 : 0);
        QTEST(routes.hostAddresses().isHostAddress(ip(address)), "host");
        // A whole range's test: the /16 holds the link's addresses, 198.18.8.0/24 none.
        QCOMPARE(routes.mayBeOnLink(ip(u"198.18.0.0"_s), ip(u"198.18.255.255"_s)),
                 flags == (IFF_UP | IFF_RUNNING | IFF_BROADCAST));
        QVERIFY(!routes.mayBeOnLink(ip(u"198.18.8.0"_s), ip(u"198.18.8.255"_s)));
    }
};

QTEST_GUILESS_MAIN(TestNetlink)
#include "tst_netlink.moc"
