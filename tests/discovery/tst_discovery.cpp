#include "discovery/broadcastdiscovery.h"
#include "discovery/discoveryrun.h"
#include "discovery/replylookups.h"
#include "platform/addresstext.h"
#include "support/descriptors.h"
#include "support/devices.h"
#include "support/fakecontrols.h"
#include "support/logcapture.h"
#include "support/root.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QTest>

#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;
using Kind = DeviceProfile::Kind;
using Udp = DeviceProfile::Udp;

namespace {

Address ip(const QString &text)
{
    return addressFromText(text);
}

QJsonObject info(const QString &mac, const QString &hostname)
{
    return {{u"hostname"_s, hostname}, {u"macAddress"_s, mac}, {u"serialNumber"_s, u"10391234567"_s},
            {u"tag"_s, u"2.4.1"_s}, {u"sha"_s, u"9f3c2e1"_s}};
}

QJsonObject gatewayData(const QString &mac, const QString &name)
{
    return {{u"devtype"_s, 12}, {u"name"_s, name}, {u"uptime"_s, 300}, {u"macaddr"_s, mac},
            {u"mgt"_s, QJsonObject{{u"serialNo"_s, 1200456}, {u"gatewayVer"_s, u"1.7.0"_s}}}};
}

// Whether `lines` holds `expected` in this order, other lines between them allowed.
bool inOrder(const QStringList &lines, const QStringList &expected)
{
    qsizetype at = 0;
    for (const QString &line : lines)
        at += at < expected.size() && line.startsWith(expected.at(at));
    return at == expected.size();
}

// Runs `work` and returns what standard error received meanwhile.
template <typename Work>
QByteArray standardError(Work work)
{
    QTemporaryFile errors;
    if (!errors.open())
        qFatal("no temporary file");
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    dup2(errors.handle(), STDERR_FILENO);
    work();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    errors.seek(0);
    return errors.readAll();
}

} // namespace

// Broadcasts to 127.255.255.255, where simulated devices listen on the protocols' fixed ports
// (so this test holds their lock) and answer from addresses of their own.
class TestDiscovery final : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        const QHash<QString, QString> names{{u"127.0.8.11"_s, u"corva-a"_s}, {u"127.0.8.21"_s, u"gw-roof"_s},
                                            {u"127.0.8.14"_s, u"ab"_s}};
        m_resolver = std::make_shared<TableResolver>(names, QSet<QString>{u"127.0.8.13"_s});
        m_controller = std::make_shared<MainViewController>(loopbackBroadcast, m_resolver);
        m_log = std::make_unique<LogCapture>();
    }

    void cleanup()
    {
        m_resolver->setAnswering(true);
        m_log.reset();
        m_sim.reset();
    }

    // A send that fails on one interface is reported and the others go on; with nothing sent,
    // or a reply port that cannot be bound, the set-up fails and the call gives nothing.
    void setUpFailures()
    {
        start({simDevice(Kind::Info, u"corva-a"_s, u"127.0.8.11"_s)});
        const QList<BroadcastTarget> targets{{loopbackBroadcast, 999'999}, {loopbackBroadcast, 0}};
        std::optional<QList<ResponderEntry>> found;
        std::shared_ptr<ReportInProgress> report;
        const auto discover = [&](const BroadcastProtocol &protocol, const QList<BroadcastTarget> &to) {
            report = std::make_shared<ReportInProgress>(QList<NetworkInterface>{}, 47'811);
            return standardError(
                [&] { found = runBroadcastDiscovery(protocol, {to, 47'811, m_resolver, 1024, report}, {}); });
        };
        QByteArray errors = discover(corvaProtocol(), targets);
        QCOMPARE(errors, QByteArray("sendto failed: No such device\n"));
        QVERIFY(report->copy().failure().isEmpty() && !report->copy().askedEverything());
        QCOMPARE(found, (QList<ResponderEntry>{{ip(u"127.0.8.11"_s), u"corva-a"_s, u"corva-a"_s, if_nametoindex("lo")}}));
        QCOMPARE(m_log->lines().count(u"Broadcast sent"_s), 1);

        m_log->clear();
        errors = discover(xpicoProtocol(), {});
        QVERIFY(!found);
        QCOMPARE(errors, QByteArray("sendto() failed: Network is unreachable\n"));
        QCOMPARE(m_log->lines(), QStringList{u"Starting XPico discovery..."_s});
        QCOMPARE(report->copy().failure(), u"no network interface is up that can broadcast: Network is unreachable"_s);

        const int holder = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(47'811);
        QCOMPARE(bind(holder, reinterpret_cast<const sockaddr *>(&local), sizeof local), 0);
        errors = discover(xpicoProtocol(), targets);
        close(holder);
        QVERIFY(!found);
        QCOMPARE(errors, QByteArray("bind() failed: Address already in use\n"));
        QCOMPARE(report->copy().failure(), u"the reply port 47811 could not be bound: Address already in use"_s);
    }

    // Each address is probed once per query step, and at most 1,024 of them.
    void floodOfReplies()
    {
        QList<ResponderEntry> responders;
        for (int i = 0; i < 1'026; ++i) {
            const QString address = u"127.1.%1.%2"_s.arg(i / 250).arg(i % 250 + 1);
            responders.append({ip(address), std::nullopt, address});
        }
        responders.insert(1, responders.first());
        std::thread caller([&] { discoveryOn(std::make_shared<Run>(Run::Kind::Discovery)).queryTram(responders); });
        QTRY_VERIFY_WITH_TIMEOUT(m_log->lines().filter(u"replies were not probed"_s).size() == 1, 120'000);
        caller.join();
        const QStringList lines = m_log->lines();
        QCOMPARE(lines.filter(u"GET http://"_s).size(), 1'024);
        QCOMPARE(lines.filter(u"GET http://127.1.0.1/"_s).size(), 1);
        QVERIFY(lines.contains(u"3 Corva replies were not probed: repeats of an address already probed, or beyond "
                               "the first 1,024 responders"_s));
    }

    // The first 1,024 addresses are looked up, a repeat shares its look-up, and one with no
    // answer by the end of the budget stands under its address alone.
    void lookUpsHaveACapAndABudget()
    {
        m_resolver->setAnswering(false, u"127.3."_s); // a name server silent for these
        const auto lookUpAll = [&](const QList<quint32> &addresses, qsizetype cap, int waitMs) {
            ReplyLookups lookups(m_resolver, {}, cap);
            for (const quint32 address : addresses)
                lookups.add(Address::ipv4(address), 0);
            return lookups.entries(std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs));
        };
        QList<quint32> flood;
        for (quint32 i = 0; i < 1'100; ++i)
            flood.append(0x7F01'0000 + i); // 127.1.0.0 and on
        flood.append(0x7F01'0005);
        const QList<ResponderEntry> many = lookUpAll(flood, 1'024, 60'000);
        QCOMPARE(m_resolver->nameInfoCalls(), 1'024);
        QCOMPARE(many.size(), 1'101);
        QCOMPARE(many.at(1'023).hostname, u"127.1.3.255"_s);
        QCOMPARE(many.at(1'024), (ResponderEntry{ip(u"127.1.4.0"_s), std::nullopt, u"127.1.4.0"_s}));
        QCOMPARE(many.last(), many.at(5));

        QElapsedTimer clock;
        clock.start();
        const QList<ResponderEntry> late = lookUpAll({0x7F03'0001, 0x7F01'0007}, 10, 300);
        QVERIFY2(clock.elapsed() < 2'000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(late, (QList<ResponderEntry>{{ip(u"127.3.0.1"_s), std::nullopt, u"127.3.0.1"_s},
                                              {ip(u"127.1.0.7"_s), u"127.1.0.7"_s, u"127.1.0.7"_s}}));
        QVERIFY(m_log->lines().contains(u"1 name look-ups gave no answer within 3s; those responders are listed by address"_s));

        // Forged replies from off the computer's networks, first, get what the one on it leaves.
        const QList<NetworkInterface> lan{{u"eth1"_s, 2, IFF_UP | IFF_RUNNING, 0x7F01'0001, 16}};
        ReplyLookups lookups(m_resolver, {}, 4, lan);
        for (quint32 i = 0; i < 10; ++i)
            lookups.add(Address::ipv4(0x7F09'0000 + i), 0);
        lookups.add(Address::ipv4(0x7F01'0007), 0);
        const QList<ResponderEntry> entries = lookups.entries(std::chrono::steady_clock::now() + std::chrono::seconds(60));
        QCOMPARE(entries.last().hostname, u"127.1.0.7"_s);
        QCOMPARE(std::count_if(entries.cbegin(), entries.cend(), [](const ResponderEntry &e) { return e.hostname.has_value(); }), 4);
    }

    // 3,000 forged replies behind a silent name server: a stop in the receive window ends the
    // run within a second, probing nobody and starting no later step; the next run finds its
    // two devices in its normal time, not behind the stale look-ups.
    void floodBehindASilentNameServer()
    {
        REQUIRE_ROOT("the second run probes port 80");
        DeviceProfile flood = simDevice(Kind::Info, u"flood"_s, u"127.2.0.1"_s);
        flood.udpSources = 3'000;
        start({flood});
        m_resolver->setAnswering(false, u"127.2."_s);
        m_controller->startDiscovery();
        QTRY_VERIFY_WITH_TIMEOUT(m_resolver->nameInfoCalls() >= 32, 10'000);
        QElapsedTimer clock;
        clock.start();
        m_controller->stopRun();
        QTRY_VERIFY_WITH_TIMEOUT(m_controller.use_count() == 1, 3'000); // the run's task has let go
        QVERIFY2(clock.elapsed() < 2'000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(m_log->lines().filter(u"gave no answer"_s).isEmpty()); // a stop is no time-out
        QVERIFY(m_log->lines().filter(u"GET "_s).isEmpty() && !m_log->lines().contains(u"Starting XPico discovery..."_s));

        // Only the gateway broadcast goes unanswered (the hand-over finds it): no hint.
        start({simDevice(Kind::Info, u"corva-a"_s, u"127.0.8.11"_s, info(u"02:00:00:00:08:11"_s, u"corva-a"_s), 80),
               simDevice(Kind::InfoNotFound, u"gw"_s, u"127.0.8.21"_s, gatewayData(u"02:00:00:00:08:21"_s, u"gw"_s), 80)});
        clock.restart();
        m_controller->startDiscovery();
        QTRY_VERIFY_WITH_TIMEOUT(!m_controller->discovering(), 20'000);
        QCOMPARE(hostnames(m_controller->devices()), (QStringList{u"corva-a"_s, u"gw"_s}));
        QVERIFY2(clock.elapsed() < 12'000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(m_log->lines().filter(u"No device answered"_s).isEmpty());
    }

    // Replies as they come, not de-duplicated, named by the resolver; bad datagrams logged and
    // dropped. A silent name server holds no datagram back, only the entries; the socket is
    // close-on-exec (a browser "Open" starts must not inherit it).
    void responderEntries()
    {
        start({withUdp(simDevice(Kind::Info, u"corva-a"_s, u"127.0.8.11"_s), Udp::Twice),
               withUdp(simDevice(Kind::Info, u"corva-nul"_s, u"127.0.8.12"_s), Udp::Nul),
               simDevice(Kind::Info, u"corva-nameless"_s, u"127.0.8.13"_s),
               simDevice(Kind::Info, u"corva-short"_s, u"127.0.8.14"_s),
               simDevice(Kind::Gateway, u"gw"_s, u"127.0.8.21"_s),
               withUdp(simDevice(Kind::Gateway, u"gw-echo"_s, u"127.0.8.22"_s), Udp::Echo)});
        m_resolver->setAnswering(false);
        std::optional<QList<ResponderEntry>> corva;
        std::optional<QList<ResponderEntry>> xpico;
        std::thread caller([&] {
            DiscoveryRun discovery = discoveryOn(std::make_shared<Run>(Run::Kind::Discovery));
            corva = discovery.discoverTram();
            xpico = discovery.discoveryBrio();
        });
        QTRY_COMPARE_WITH_TIMEOUT(m_log->lines().filter(u"Corva disco response from "_s).size(), 5, 2'000);
        QVERIFY(m_log->lines().contains(u"Bad UDP packet: 'Ser' from 127.0.8.12"_s));
        QVERIFY(socketsCloseOnExec());
        m_resolver->setAnswering(true);
        caller.join();

        QVERIFY(corva);
        QList<ResponderEntry> entries = *corva;
        std::sort(entries.begin(), entries.end(),
                  [](const ResponderEntry &a, const ResponderEntry &b) { return a.ipAddress < b.ipAddress; });
        const unsigned lo = if_nametoindex("lo");
        const ResponderEntry corvaA{ip(u"127.0.8.11"_s), u"corva-a"_s, u"corva-a"_s, lo};
        const QList<ResponderEntry> expected{corvaA, corvaA,
                                             {ip(u"127.0.8.13"_s), std::nullopt, u"127.0.8.13"_s, lo}, // getnameinfo failed
                                             {ip(u"127.0.8.14"_s), u"127.0.8.14"_s, u"ab"_s, lo}};     // 2-character name
        QCOMPARE(entries, expected);
        QVERIFY(xpico);
        QCOMPARE(*xpico, (QList<ResponderEntry>{{ip(u"127.0.8.21"_s), u"gw-roof"_s, u"gw-roof"_s, lo}}));

        const QStringList lines = m_log->lines();
        QVERIFY(lines.contains(u"Bad UDP packet: '' from 127.0.8.22"_s));
        QCOMPARE(lines.filter(u"XPico disco response from "_s).size(), 2);
        QVERIFY(inOrder(lines, {u"Starting Corva discovery..."_s, u"Broadcast sent"_s, u"Corva disco response from "_s,
                                u"Corva Disco finished after "_s, u"Starting XPico discovery..."_s,
                                u"XPico Broadcast sent"_s, u"XPico disco response from "_s,
                                u"XPico Discovery finished after "_s}));
    }

    // A whole run against devices that serve HTTP on port 80 of their own addresses.
    void discoveryRun()
    {
        REQUIRE_ROOT("the run probes port 80");
        start({simDevice(Kind::Info, u"corva-a"_s, u"127.0.8.11"_s, info(u"02:00:00:00:08:11"_s, u"corva-a"_s), 80),
               simDevice(Kind::Info, u"corva-nameless"_s, u"127.0.8.13"_s,
                         info(u"02:00:00:00:08:13"_s, u"corva-nameless"_s), 80),
               simDevice(Kind::InfoNotFound, u"corva-legacy"_s, u"127.0.8.15"_s,
                         gatewayData(u"02:00:00:00:08:15"_s, u"corva-legacy"_s), 80),
               simDevice(Kind::Gateway, u"gw"_s, u"127.0.8.21"_s, gatewayData(u"02:00:00:00:08:21"_s, u"gw"_s), 80)});
        const FakeControls ui(m_resolver);
        m_controller = ui.controller;

        // Listed by an earlier run: one answers again, one is gone.
        m_controller->addDevice(record(u"gone"_s, u"02:00:00:00:08:99"_s));
        m_controller->addDevice(record(u"corva-a, first listing"_s, u"02:00:00:00:08:11"_s));

        m_controller->startDiscovery();
        QVERIFY(m_controller->discovering());
        QVERIFY(m_controller->vudiduDevices().isEmpty() && m_controller->xpicoDevices().isEmpty());
        QCOMPARE(hostnames(m_controller->devices()), (QStringList{u"gone"_s, u"corva-a, first listing"_s}));
        // Neither a scan nor a second press starts anything.
        m_controller->startDiscovery();
        m_controller->startIPRangeScan();

        QTRY_VERIFY_WITH_TIMEOUT(!m_controller->discovering(), 30'000);

        // The answering device keeps its first record and place; the gone one is dropped; the
        // 404 responder came through the hand-over.
        QCOMPARE(hostnames(m_controller->devices()),
                 (QStringList{u"corva-a, first listing"_s, u"corva-nameless"_s, u"corva-legacy"_s, u"gw"_s}));

        const QStringList lines = m_log->lines();
        QCOMPARE(lines.count(u"Starting Corva discovery..."_s), 1);
        QVERIFY2(inOrder(lines, {u"Starting Corva discovery..."_s, u"Corva Disco finished after "_s,
                                 u"Querying 3 Corva Devices..."_s, u"GET http://127.0.8."_s,
                                 u"Corva/TRAM6 device found: "_s, u"Attempting to query 127.0.8.15 as XPico device..."_s,
                                 u"XPico device found: "_s, u"Starting XPico discovery..."_s,
                                 u"XPico Discovery finished after "_s, u"Querying 1 XPico Devices..."_s,
                                 u"GET http://127.0.8.21/getdata.json"_s, u"XPico device found: "_s,
                                 u"Discovery Stopped"_s}),
                 qPrintable(lines.join(u'\n')));
        QCOMPARE(lines.last(), u"Discovery Stopped"_s);
    }

    // Nobody answers: each window closes 2 to 3 s after its send, the lists end empty, the hint
    // is logged once. After a set-up that failed, the Corva query logs nothing, the gateway's 0.
    void runWithoutResponders()
    {
        m_controller->addDevice(record(u"gone"_s, u"02:00:00:00:08:99"_s));
        m_controller->startDiscovery();
        QTRY_VERIFY_WITH_TIMEOUT(!m_controller->discovering(), 30'000);
        QVERIFY(m_controller->devices().isEmpty() && m_controller->filteredDevices().isEmpty());
        const QStringList lines = m_log->lines();
        QVERIFY(lines.contains(u"Querying 0 Corva Devices..."_s));
        QVERIFY(lines.contains(u"Querying 0 XPico Devices..."_s));
        QCOMPARE(lines.filter(u"No device answered the discovery broadcasts: either none is on the networks"_s).size(), 1);
        const qsizetype waits = lines.count(u"Waiting for discovery responses..."_s);
        QVERIFY2(waits >= 4 && waits <= 6, qPrintable(lines.join(u" | ")));
        static const QRegularExpression summary(uR"(^(Corva Disco|XPico Discovery) finished after (\d+\.\d{6})s$)"_s);
        int windows = 0;
        for (const QString &line : lines) {
            if (const QRegularExpressionMatch match = summary.match(line); match.hasMatch() && ++windows)
                QVERIFY2(match.captured(2).toDouble() >= 1.9 && match.captured(2).toDouble() < 5, qPrintable(line));
        }
        QCOMPARE(windows, 2);

        m_log->clear();
        std::thread([&] {
            DiscoveryRun discovery = discoveryOn(std::make_shared<Run>(Run::Kind::Discovery));
            discovery.queryTram(std::nullopt), discovery.queryBrio(std::nullopt);
        }).join();
        QCOMPARE(m_log->lines(), QStringList{u"Querying 0 XPico Devices..."_s});
    }

private:
    void start(const QList<DeviceProfile> &devices) { m_sim = startDevices(devices, true); }
    DiscoveryRun discoveryOn(std::shared_ptr<Run> run) const
    {
        return DiscoveryRun({loopbackBroadcast, 0, m_resolver}, std::move(run), nullptr);
    }

    std::shared_ptr<TableResolver> m_resolver;
    std::shared_ptr<MainViewController> m_controller;
    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<DeviceSim> m_sim;
};

QTEST_GUILESS_MAIN(TestDiscovery)
#include "tst_discovery.moc"
