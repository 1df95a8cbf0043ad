#include "address/socketaddress.h"
#include "platform/addresstext.h"

#include <QTest>

#include <netinet/in.h>

using namespace Qt::StringLiterals;

// The address value's readers and texts, as one table: what enters as text, what it becomes,
// and how it is written back.
class TestAddress final : public QObject {
    Q_OBJECT

private slots:
    void hostAndPort_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("read");
        QTest::addColumn<bool>("isIPv4");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("url");

        QTest::newRow("address") << u"192.168.7.2"_s << true << true << 0 << u"192.168.7.2"_s
                                 << u"http://192.168.7.2/info"_s;
        QTest::newRow("address and port") << u"10.0.0.1:8080"_s << true << true << 8080 << u"10.0.0.1:8080"_s
                                          << u"http://10.0.0.1:8080/info"_s;
        QTest::newRow("name") << u"pump-house.lan"_s << true << false << 0 << u"pump-house.lan"_s
                              << u"http://pump-house.lan/info"_s;
        QTest::newRow("name and port") << u"gw:65535"_s << true << false << 65535 << u"gw:65535"_s
                                       << u"http://gw:65535/info"_s;
        for (const char *bad : {"", "10.0.0.1:", "10.0.0.1:0", "10.0.0.1:65536", "10.0.0.1:080", "10.0.0.1:8a",
                                "10.0.0.256", "010.0.0.1", "10.0.0", "1.2.3.4.5", " 10.0.0.1", "10.0.0.1 ",
                                "a b", "-gw", "gw-", "a..b", "http://gw", "[::1]:80"})
            QTest::newRow(bad) << QString::fromLatin1(bad) << false << false << 0 << QString() << QString();
    }
    void hostAndPort()
    {
        QFETCH(QString, text);
        QFETCH(bool, read);
        const std::optional<Address> address = addressFromHostPort(text);
        QCOMPARE(address.has_value(), read);
        if (!read)
            return;
        QFETCH(bool, isIPv4);
        QFETCH(int, port);
        QCOMPARE(address->ipv4().has_value(), isIPv4);
        QCOMPARE(address->port(), port);
        QVERIFY(address->isHost());
        QFETCH(QString, written);
        QFETCH(QString, url);
        QCOMPARE(addressText(*address), written);
        QCOMPARE(deviceUrl(*address, u"/info"), url);
    }

    // A text that is no IPv4 address is kept exactly as given, never turned into another.
    void textAsGiven()
    {
        for (const QString &text : {u"10.0.0.300"_s, u"010.0.0.1"_s, u"10.0.0.1 "_s, u"printer"_s}) {
            const Address address = addressFromText(text);
            QVERIFY2(!address.ipv4() && !address.isHost(), qPrintable(text));
            QCOMPARE(addressText(address), text);
            QVERIFY(!socketAddress(address, 80));
        }
        const Address plain = addressFromText(u"10.0.0.1");
        QCOMPARE(plain, Address::ipv4(0x0a000001));
        QCOMPARE(addressText(Address()), QString());
    }

    // The range walk's texts: octets beyond 0..255 and below zero are written and read back.
    void fourNumbers()
    {
        QString text;
        for (const std::array<qint64, 4> octets : {std::array<qint64, 4>{10, 0, 0, 300}, {-1, 0, 255, 0},
                                                   {0, 0, 0, 0}, {4294967296, 1, 2, 3}}) {
            writeAddressText(text, octets);
            QCOMPARE(canonicalOctets(text), octets);
        }
        QCOMPARE(dottedQuad(0xffffffff), u"255.255.255.255"_s);
        for (const char *bad : {"-0.0.0.1", "01.0.0.1", "1.2.3", "1.2.3.4 ", "1.2.3.+4"})
            QVERIFY2(!canonicalOctets(QString::fromLatin1(bad)), bad);
    }

    // What the sockets take and give: the port where the address has none, its own where it has.
    void socketAddresses()
    {
        const std::optional<SocketAddress> given = socketAddress(Address::ipv4(0x7f000001, 8080), 80);
        QVERIFY(given && given->family() == AF_INET);
        const auto *in = reinterpret_cast<const sockaddr_in *>(given->get());
        QCOMPARE(ntohs(in->sin_port), 8080);
        QCOMPARE(ntohl(in->sin_addr.s_addr), 0x7f000001u);
        QCOMPARE(addressOf(*given->get()), Address::ipv4(0x7f000001));
        const std::optional<SocketAddress> defaulted = socketAddress(Address::ipv4(0x7f000001), 80);
        QCOMPARE(ntohs(reinterpret_cast<const sockaddr_in *>(defaulted->get())->sin_port), 80);
        sockaddr unknown{};
        unknown.sa_family = AF_UNIX;
        QVERIFY(addressOf(unknown).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestAddress)
#include "tst_address.moc"
