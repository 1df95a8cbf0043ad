#include "arp/arpinput.h"
#include "arp/arpsweep.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using Clock = ArpSweep::Clock;

namespace {

const Clock::time_point start = Clock::time_point() + 1h;
constexpr std::uint32_t base = 0xC6120000; // 198.18.0.0
const MacAddress deviceMac{2, 0, 0, 0, 0, 7};
// Replies at the given milliseconds, from the given addresses.
using Replies = QList<QPair<int, quint32>>;

ArpInputParser::Status parse(const QByteArray &text)
{
    ArpInputParser parser;
    ArpInputParser::Status status = ArpInputParser::Status::More;
    for (const QByteArray &line : text.split('\n'))
        status = parser.feed(std::string_view(line.data(), std::size_t(line.size())));
    return status;
}

} // namespace

class TestArp final : public QObject {
    Q_OBJECT

private slots:
    void input_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("good");
        const QByteArray head = "devicefinder-arp 1\ninterface eth0\n";
        QTest::newRow("ranges and a rate") << head + "rate 15\nrange 198.18.0.1 198.18.0.9\nrange 10.0.0.1 10.0.0.1\nend" << true;
        QTest::newRow("16,777,216 addresses") << head + "range 10.0.0.0 10.255.255.255\nend" << true;
        QTest::newRow("one more") << head + "range 10.0.0.0 10.255.255.255\nrange 11.0.0.0 11.0.0.0\nend" << false;
        // 2^32 addresses: a count that does not fit in 32 bits.
        QTest::newRow("the whole address space") << head + "range 0.0.0.0 255.255.255.255\nend" << false;
        QTest::newRow("another version") << QByteArray("devicefinder-arp 2\ninterface eth0\nrange 1.2.3.4 1.2.3.4\nend") << false;
        QTest::newRow("no range") << head + "end" << false;
        QTest::newRow("first above last") << head + "range 1.2.3.5 1.2.3.4\nend" << false;
        QTest::newRow("octet 256") << head + "range 1.2.3.256 1.2.3.256\nend" << false;
        QTest::newRow("leading zero") << head + "range 1.2.3.04 1.2.3.4\nend" << false;
        QTest::newRow("rate 0") << head + "rate 0\nrange 1.2.3.4 1.2.3.4\nend" << false;
        QTest::newRow("rate after a range") << head + "range 1.2.3.4 1.2.3.4\nrate 5\nend" << false;
        QTest::newRow("a slash in the name") << QByteArray("devicefinder-arp 1\ninterface a/b\nrange 1.2.3.4 1.2.3.4\nend") << false;
        QTest::newRow("two spaces") << head + "range  1.2.3.4 1.2.3.4\nend" << false;
        QTest::newRow("after the end") << head + "range 1.2.3.4 1.2.3.4\nend\nend" << false;
    }
    void input()
    {
        QFETCH(QByteArray, text);
        QTEST(parse(text) == ArpInputParser::Status::Done, "good");
    }

    void frames()
    {
        const MacAddress own{2, 0, 0, 0, 0, 1};
        ArpPacket packet = arpRequest(own, base + 254, base + 7);
        // A request is no reply; made a reply from the device to us, it is.
        QVERIFY(!parseArpReply(packet.data(), packet.size(), base + 7));
        packet[7] = 2;
        std::copy(deviceMac.begin(), deviceMac.end(), packet.begin() + 8);
        std::copy(packet.begin() + 24, packet.end(), packet.begin() + 14);
        packet[24] = 198, packet[25] = 18, packet[26] = 0, packet[27] = 254;
        const std::optional<ArpReply> reply = parseArpReply(packet.data(), packet.size(), base + 254);
        QVERIFY(reply && reply->sender == base + 7 && reply->senderMac == deviceMac);
        QVERIFY(!parseArpReply(packet.data(), packet.size(), base + 253)); // to someone else
        QVERIFY(!parseArpReply(packet.data(), packet.size() - 1, base + 254));
        packet[8] = 1; // a group address
        QVERIFY(!parseArpReply(packet.data(), packet.size(), base + 254));
    }

    // .1 to .4 (.4 the interface's own: O, no request) at 2,000 a second on a 1 ms clock: requests
    // at 0 to 2 ms, the second ones a second later, verdicts a second after those; replies at
    // the given milliseconds, whether each counted.
    void replies_data()
    {
        QTest::addColumn<Replies>("replies");
        QTest::addColumn<QString>("counted");
        QTest::addColumn<QString>("verdicts");
        QTest::newRow("to the first request") << Replies{{500, base + 2}} << u"1"_s << u"NSNO"_s;
        QTest::newRow("only to the second request") << Replies{{1500, base + 2}} << u"1"_s << u"NSNO"_s;
        QTest::newRow("after its verdict's time") << Replies{{2500, base + 2}} << u"0"_s << u"NNNO"_s;
        QTest::newRow("before it was asked") << Replies{{0, base + 3}} << u"0"_s << u"NNNO"_s;
        QTest::newRow("from an address not in the ranges") << Replies{{500, base + 9}} << u"0"_s << u"NNNO"_s;
        QTest::newRow("from the interface's own address") << Replies{{500, base + 4}} << u"0"_s << u"NNNO"_s;
        QTest::newRow("twice") << Replies{{500, base + 2}, {600, base + 2}} << u"10"_s << u"NSNO"_s;
    }
    void replies()
    {
        QFETCH(Replies, replies);
        const MacAddress ownMac{2, 0, 0, 0, 0, 1};
        ArpSweep sweep({{base + 1, base + 4}}, ArpSweep::maxRate, {base + 4, ownMac}, start);
        QString counted;
        QString verdicts;
        for (int ms = 0; ms <= 3000; ++ms) {
            const Clock::time_point now = start + std::chrono::milliseconds(ms);
            for (const auto &[at, sender] : std::as_const(replies)) {
                if (at == ms)
                    counted += sweep.heard({sender, deviceMac}, now) ? u'1' : u'0';
            }
            while (sweep.dueRequest(now))
                sweep.sent(now);
            while (const std::optional<ArpSweep::Verdict> verdict = sweep.nextVerdict(now))
                verdicts += verdict->mac == deviceMac ? u'S' : verdict->mac == ownMac ? u'O' : u'N';
        }
        QTEST(counted, "counted");
        QTEST(verdicts, "verdicts");
    }

    // Its pace over two seconds of empty addresses, its ceiling whatever is asked: never more in
    // any second, nor fewer, also when each pass is late (every 1.3 ms for one a ms); step 0
    // passes exactly when it asks.
    void pace_data()
    {
        QTest::addColumn<quint32>("rate");
        QTest::addColumn<int>("stepMicroseconds");
        QTest::addColumn<int>("fewest");
        QTest::newRow("2,000 asked") << 2000u << 0 << 4000;
        QTest::newRow("1,000,000 asked") << ArpInputParser::maxRate << 0 << 4000;
        QTest::newRow("late passes") << 1000u << 1300 << 1990;
    }
    void pace()
    {
        QFETCH(quint32, rate);
        QFETCH(int, stepMicroseconds);
        ArpSweep sweep({{base, base + 4999}}, rate, {base + 9999, MacAddress{2, 0, 0, 0, 0, 1}}, start);
        std::vector<Clock::time_point> sent;
        for (Clock::time_point now = start; now < start + 2s;
             now = stepMicroseconds > 0 ? now + std::chrono::microseconds(stepMicroseconds) : *sweep.wakeAt()) {
            while (sweep.dueRequest(now)) {
                sweep.sent(now);
                sent.push_back(now);
            }
        }
        QFETCH(int, fewest);
        QVERIFY2(int(sent.size()) >= fewest, qPrintable(QString::number(sent.size())));
        const std::size_t most = std::min(rate, ArpSweep::maxRate);
        for (std::size_t i = most; i < sent.size(); ++i)
            QVERIFY(sent[i] - sent[i - most] > 1s);
    }
};

QTEST_GUILESS_MAIN(TestArp)
#include "tst_arp.moc"
