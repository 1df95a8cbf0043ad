#include "arp/arpinput.h"
#include "arp/arppace.h"
#include "arp/arpsweep.h"

#include <QTest>

#include <algorithm>

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

// What breaks the pace in these times of requests on the wire: more than `rate` in some second,
// or more than max(1, ceil(rate / 10)) in some tenth of one; empty when nothing does.
QString paceBroken(std::vector<Clock::time_point> times, std::uint32_t rate)
{
    std::sort(times.begin(), times.end());
    const std::pair<Clock::duration, std::uint32_t> windows[] = {{1s, rate}, {100ms, std::max(1u, (rate + 9) / 10)}};
    for (const auto &[length, most] : windows) {
        for (std::size_t i = most; i < times.size(); ++i) {
            if (times[i] - times[i - most] < length)
                return u"%1 within %2 us"_s.arg(most + 1).arg(
                    std::chrono::duration_cast<std::chrono::microseconds>(times[i] - times[i - most]).count());
        }
    }
    return {};
}

// Lateness in [0, most], the same for each seed, as the kernel's timers may add.
Clock::duration lateness(std::uint32_t seed, Clock::duration most)
{
    return most * ((seed * 2654435761u) % 1000) / 999;
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
        QTest::newRow("requests held") << head + "held 3600000000000 20000000\nrange 1.2.3.4 1.2.3.4\nheld 1 0\nend" << true;
        QTest::newRow("a held time below zero") << head + "held -1 0\nrange 1.2.3.4 1.2.3.4\nend" << false;
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
                    counted += sweep.heard({sender, deviceMac}) ? u'1' : u'0';
            }
            while (sweep.dueSend(now))
                sweep.sent(now);
            while (const std::optional<ArpSweep::Verdict> verdict = sweep.nextVerdict(now))
                verdicts += verdict->mac == deviceMac ? u'S' : verdict->mac == ownMac ? u'O' : u'N';
        }
        QTEST(counted, "counted");
        QTEST(verdicts, "verdicts");
    }

    // The helper's sweep over four seconds, every `answering`th address answering at once (0:
    // none): its requests and the kernel's for each answer keep the pace in every second and
    // tenth, and leave about as often as it allows; also when each pass is late (every 1.3 ms
    // for one a ms, every 7 ms for two), and with a watch's asks held before it (four, a
    // fifth of a second apart, their requests a second apart and as late as the kernel is).
    void helperPace_data()
    {
        QTest::addColumn<quint32>("rate");
        QTest::addColumn<int>("stepMicroseconds"); // 0: each pass when it asks
        QTest::addColumn<int>("answering");
        QTest::addColumn<bool>("held");
        QTest::addColumn<int>("fewest");
        QTest::newRow("1, each answer's kernel request in a slot") << 1u << 0 << 1 << false << 4;
        QTest::newRow("15, each answer's kernel request in a slot") << 15u << 0 << 1 << false << 59;
        QTest::newRow("20, half answer") << 20u << 0 << 2 << false << 79;
        QTest::newRow("100, a third answer") << 100u << 0 << 3 << false << 399;
        QTest::newRow("2,000, a third answer") << 2000u << 0 << 3 << false << 7990;
        QTest::newRow("1,000,000 asked: its ceiling") << ArpInputParser::maxRate << 0 << 0 << false << 7990;
        QTest::newRow("late passes, 1,000") << 1000u << 1300 << 5 << false << 3950;
        QTest::newRow("late passes, 2,000") << 2000u << 7000 << 5 << false << 7400;
        QTest::newRow("20, a watch's asks held") << 20u << 0 << 2 << true << 55;
    }
    void helperPace()
    {
        QFETCH(quint32, rate);
        QFETCH(int, stepMicroseconds);
        QFETCH(int, answering);
        QFETCH(bool, held);
        ArpPace watch(rate, start - 1s);
        for (int ask = 0; held && ask < 4; ++ask)
            watch.spend(ArpPace::Ask::Kernel, start - 800ms + ask * 200ms);
        const std::vector<ArpPace::Request> asks = watch.heldFrom(start);
        ArpSweep sweep({{base, base + 99'999}}, rate, {base + 99'999, MacAddress{2, 0, 0, 0, 0, 1}}, start, asks);
        std::vector<Clock::time_point> sent;
        for (Clock::time_point now = start; now < start + 4s;
             now = stepMicroseconds > 0 ? now + std::chrono::microseconds(stepMicroseconds) : *sweep.wakeAt()) {
            while (const std::optional<ArpSweep::Send> send = sweep.dueSend(now)) {
                sweep.sent(now);
                sent.push_back(now);
                if (send->kind == ArpSweep::Send::Kind::Request && answering > 0 && (send->address - base) % answering == 0)
                    QVERIFY(sweep.heard({send->address, deviceMac}));
            }
            while (sweep.nextVerdict(now)) {
            }
        }
        const std::uint32_t most = std::min(rate, ArpSweep::maxRate);
        QFETCH(int, fewest);
        QVERIFY2(int(sent.size()) >= fewest, qPrintable(QString::number(sent.size())));
        // With the asks' requests, as late as the kernel may send them.
        for (const ArpPace::Request &request : asks)
            sent.push_back(request.at + lateness(std::uint32_t(sent.size()), request.late));
        QCOMPARE(paceBroken(sent, most), QString());
    }

    // The kernel's asks (a datagram or a connection to an address it does not know): three
    // requests each, a second apart, each as late as it may be (spread over that). They keep
    // the pace in every second and tenth over eight seconds, about as often as the lateness
    // allows; passes late by a quarter of a second lose only the spacing.
    void kernelPace_data()
    {
        QTest::addColumn<quint32>("rate");
        QTest::addColumn<int>("stepMilliseconds"); // 0: each pass when it asks
        QTest::addColumn<int>("fewest");
        QTest::newRow("1") << 1u << 0 << 2;
        QTest::newRow("15") << 15u << 0 << 18;
        QTest::newRow("100") << 100u << 0 << 100;
        QTest::newRow("2,000") << 2000u << 0 << 2000;
        QTest::newRow("late passes, 100") << 100u << 250 << 30;
    }
    void kernelPace()
    {
        QFETCH(quint32, rate);
        QFETCH(int, stepMilliseconds);
        ArpPace pace(rate, start);
        std::vector<Clock::time_point> requests;
        int asks = 0;
        for (Clock::time_point now = start; now < start + 8s;
             now = stepMilliseconds > 0 ? now + std::chrono::milliseconds(stepMilliseconds)
                                        : pace.slot(ArpPace::Ask::Kernel, now)) {
            while (pace.slot(ArpPace::Ask::Kernel, now) <= now) {
                pace.spend(ArpPace::Ask::Kernel, now);
                ++asks;
                Clock::time_point at = now + lateness(std::uint32_t(asks), ArpPace::kernelAskLateness);
                for (int request = 0; request < ArpPace::kernelRequests; ++request) {
                    requests.push_back(at);
                    at += 1s + lateness(std::uint32_t(requests.size()), ArpPace::kernelTimerLateness);
                }
            }
        }
        QFETCH(int, fewest);
        QVERIFY2(asks >= fewest, qPrintable(QString::number(asks)));
        QCOMPARE(paceBroken(requests, rate), QString());
    }
};

QTEST_GUILESS_MAIN(TestArp)
#include "tst_arp.moc"
