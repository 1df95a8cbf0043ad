#include "model/mainviewcontroller.h"
#include "platform/backgroundpool.h"
#include "platform/mainqueue.h"
#include "probes/networkloop.h"
#include "support/logcapture.h"
#include "support/simprofiles.h"
#include "support/tableresolver.h"
#include "tools/devicesim/devicesim.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QTest>

#include <atomic>
#include <thread>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using Kind = DeviceProfile::Kind;
using Http = DeviceProfile::Http;

namespace {

SimOptions noDiscovery()
{
    SimOptions options;
    options.infoPort = 0;
    options.gatewayPort = 0;
    return options;
}

QJsonObject info(const QString &mac, const QString &serial = u"10391234567"_s)
{
    // A text uptime is served as it is, so the record's uptime is known exactly.
    return {{u"serialNumber"_s, serial}, {u"macAddress"_s, mac}, {u"uptime"_s, u"93784"_s},
            {u"tag"_s, u"2.4.1"_s},      {u"sha"_s, u"9f3c2e1"_s}};
}

QJsonObject gatewayData(const QString &mac)
{
    return {{u"devtype"_s, 57},
            {u"macAddress"_s, mac},
            {u"mgt"_s, QJsonObject{{u"name"_s, u"gw"_s}, {u"serialNo"_s, 5700123}, {u"uptime"_s, 42},
                                   {u"gatewayVer"_s, u"1.8.2"_s}}}};
}

// One asynchronous probe under a kit of its own, started the way the kit's callers do: a
// unit taken and the group entered first. A thread of its own notes when the group empties.
class KitProbe final {
public:
    enum class Form { DeviceInfo, XpicoData };

    KitProbe(MainViewController &controller, const QString &address, Form form = Form::DeviceInfo)
    {
        m_tookUnit = m_limiter->tryWait();
        m_group->enter();
        m_clock.start();
        if (form == Form::DeviceInfo)
            controller.getDeviceInfoAsync(address, address, address, m_limiter, m_group);
        else
            controller.getXpicoInfoAsync(address, address, address, m_limiter, m_group);
        m_waiter = std::thread([this] {
            m_group->wait();
            m_elapsed = m_clock.elapsed();
            m_ended = true;
        });
    }
    ~KitProbe() { m_waiter.join(); }
    KitProbe(const KitProbe &) = delete;
    KitProbe &operator=(const KitProbe &) = delete;

    bool ended() const { return m_ended; }
    qint64 elapsedMs() const { return m_elapsed; }
    // The probe gave back exactly the one unit its caller took.
    bool gaveBackOneUnit() const { return m_tookUnit && m_limiter->tryWait() && !m_limiter->tryWait(); }

private:
    std::shared_ptr<Semaphore> m_limiter = std::make_shared<Semaphore>(1);
    std::shared_ptr<DispatchGroup> m_group = std::make_shared<DispatchGroup>();
    bool m_tookUnit = false;
    QElapsedTimer m_clock;
    std::atomic<qint64> m_elapsed = -1;
    std::atomic<bool> m_ended = false;
    std::thread m_waiter;
};

} // namespace

// The probes against simulated devices on loopback, each on an address of its own with a
// port the system picks. This thread keeps the event loop turning while probes run, since
// every merge waits for the main thread.
class TestProbes final : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_controller = std::make_shared<MainViewController>(loopbackBroadcast, std::make_shared<TableResolver>());
        m_log = std::make_unique<LogCapture>();
    }

    void cleanup()
    {
        m_log.reset();
        m_sim.reset();
    }

    void answerBecomesTheExactRecord()
    {
        const QStringList at = start({simDevice(Kind::Info, u"corva-hall"_s, u"127.0.6.1"_s, info(u"02:00:00:00:06:01"_s))});
        const KitProbe probe(*m_controller, at[0]);
        QTRY_VERIFY(probe.ended());
        QVERIFY(probe.gaveBackOneUnit());

        const QJsonObject expected{{u"hostname"_s, u"corva-hall"_s}, {u"serialNumber"_s, u"10391234567"_s},
                                   {u"macAddress"_s, u"02:00:00:00:06:01"_s}, {u"uptime"_s, u"1d 02:03:04"_s},
                                   {u"tag"_s, u"2.4.1"_s}, {u"sha"_s, u"9f3c2e1"_s}, {u"ipAddress"_s, at[0]},
                                   {u"redirectAddress"_s, at[0]}, {u"deviceType"_s, u"RT-41"_s}};
        QCOMPARE(m_controller->devices().size(), 1);
        QCOMPARE(m_controller->devices().first()->object(), expected);
        QCOMPARE(m_controller->vudiduDevices(), m_controller->devices());
        QCOMPARE(m_controller->filteredDevices(), m_controller->devices());
        QVERIFY(m_controller->xpicoDevices().isEmpty());
        const QString record = QString::fromUtf8(QJsonDocument(expected).toJson(QJsonDocument::Compact));
        QCOMPARE(m_log->lines(),
                 (QStringList{u"GET http://%1/info"_s.arg(at[0]), u"Corva/TRAM6 device found: "_s + record}));
    }

    // A 404 hands the address over, as name, address and redirect address, with the same kit.
    void notFoundHandsOverToTheGatewayProbe()
    {
        const QStringList at = start({simDevice(Kind::InfoNotFound, u"legacy"_s, u"127.0.6.11"_s,
                                                gatewayData(u"02:00:00:00:06:11"_s))});
        std::shared_ptr<Semaphore> limiter = std::make_shared<Semaphore>(1);
        QVERIFY(limiter->tryWait());
        auto group = std::make_shared<DispatchGroup>();
        group->enter();
        m_controller->getDeviceInfoAsync(u"legacy"_s, at[0], u"legacy.lan"_s, limiter, group);
        // The unit is taken once: QTRY evaluates its expression again after it holds.
        bool unitBack = false;
        QTRY_VERIFY(unitBack || (unitBack = limiter->tryWait()));
        group->wait(); // left, once: a second leave would have stopped the program
        QVERIFY(!limiter->tryWait());

        QCOMPARE(m_controller->xpicoDevices().size(), 1);
        QVERIFY(m_controller->vudiduDevices().isEmpty());
        const Device record = m_controller->devices().value(0);
        QVERIFY(record);
        QCOMPARE(record->text(DeviceKey::redirectAddress), at[0]);
        QCOMPARE(record->text(DeviceKey::ipAddress), at[0]);
        QCOMPARE(record->text(DeviceKey::deviceType), u"HB-5"_s);
        const QStringList lines = m_log->lines();
        QCOMPARE(lines.mid(0, 3), (QStringList{u"GET http://%1/info"_s.arg(at[0]),
                                               u"Attempting to query %1 as XPico device..."_s.arg(at[0]),
                                               u"GET http://%1/getdata.json"_s.arg(at[0])}));
        QVERIFY(lines.value(3).startsWith(u"XPico device found: {"_s));
    }

    // A reply counts as a response when an HTTP status arrived, whatever its class: then
    // only a 404 of "/info" hands over, and any other status with an object is a record.
    void replies_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<Http>("http");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("listed");
        QTest::newRow("500 with an object") << Kind::Info << Http::Status500 << QString() << 0 << true;
        QTest::newRow("not JSON") << Kind::Info << Http::NotJson << QString() << 0 << false;
        QTest::newRow("not an object") << Kind::Info << Http::NotObject << QString() << 0 << false;
        QTest::newRow("body over 1 MiB") << Kind::Info << Http::Large << QString() << 0 << false;
        QTest::newRow("gateway 500 with an object") << Kind::InfoNotFound << Http::Status500 << QString() << 0 << true;
        QTest::newRow("gateway not JSON") << Kind::InfoNotFound << Http::NotJson << QString() << 0 << false;
        QTest::newRow("gateway body over 1 MiB") << Kind::InfoNotFound << Http::Large << QString() << 0 << false;
        for (const int status : {203, 300, 400, 403, 407, 418, 503}) {
            QTest::addRow("%d with an object", status) << Kind::Info << Http::Normal << u"/info"_s << status << true;
            QTest::addRow("gateway %d with an object", status)
                << Kind::InfoNotFound << Http::Normal << u"/getdata.json"_s << status << true;
        }
        // Listed as a gateway, so handed over: read as a record, it would be an info device.
        QTest::newRow("/info 404 with an object") << Kind::InfoNotFound << Http::Normal << u"/info"_s << 404 << true;
        QTest::newRow("gateway 404 with an object")
            << Kind::InfoNotFound << Http::Normal << u"/getdata.json"_s << 404 << true;
    }

    void replies()
    {
        QFETCH(Kind, kind);
        QFETCH(Http, http);
        QFETCH(QString, path);
        QFETCH(int, status);
        QFETCH(bool, listed);
        DeviceProfile device = withHttp(
            simDevice(kind, u"d"_s, u"127.0.6.21"_s,
                      kind == Kind::Info ? info(u"02:00:00:00:06:21"_s) : gatewayData(u"02:00:00:00:06:21"_s)),
            http);
        device.bodyMiB = 2;
        if (status != 0)
            device.statuses.insert(path.toUtf8(), status);
        const QStringList at = start({device});
        const KitProbe probe(*m_controller, at[0]);
        QTRY_VERIFY(probe.ended());
        QVERIFY(probe.gaveBackOneUnit());
        QCOMPARE(m_controller->devices().size(), listed ? 1 : 0);
        const DeviceList &found = kind == Kind::Info ? m_controller->vudiduDevices() : m_controller->xpicoDevices();
        QCOMPARE(found.size(), listed ? 1 : 0);
    }

    // Nothing answers, never, or forever a byte at a time: each probe still ends, in its
    // own time, and gives its unit back. Run side by side, so the test lasts as long as
    // the slowest.
    void probesThatGetNoUsableAnswerEnd()
    {
        const QStringList at = start({withHttp(simDevice(Kind::Info, u"mute"_s, u"127.0.6.31"_s), Http::Silent),
                                      withHttp(simDevice(Kind::Info, u"drip"_s, u"127.0.6.32"_s), Http::Trickle)});
        const KitProbe refused(*m_controller, u"127.0.6.33:9"_s);
        const KitProbe silent(*m_controller, at[0]);
        const KitProbe trickle(*m_controller, at[1]);
        const KitProbe blank(*m_controller, at[0] + u' ');
        QTRY_VERIFY_WITH_TIMEOUT(refused.ended() && silent.ended() && trickle.ended() && blank.ended(), 60'000);
        for (const KitProbe *probe : {&refused, &silent, &trickle, &blank})
            QVERIFY(probe->gaveBackOneUnit());
        QVERIFY2(refused.elapsedMs() < 2000, qPrintable(QString::number(refused.elapsedMs())));
        QVERIFY2(silent.elapsedMs() >= 2500 && silent.elapsedMs() < 8000, qPrintable(QString::number(silent.elapsedMs())));
        // The trickle never stalls 3 s, so only the total limit ends it.
        QVERIFY2(trickle.elapsedMs() >= 25'000 && trickle.elapsedMs() < 45'000,
                 qPrintable(QString::number(trickle.elapsedMs())));
        QVERIFY(blank.elapsedMs() < 2000);
        QVERIFY(m_controller->devices().isEmpty());
        // The address with a blank is not percent-encoded into another: no request left.
        QCOMPARE(m_sim->acceptedConnections(), qint64(2));
    }

    // Same MAC: listed once, noted in the found list each time. The info probe logs only
    // the new device, the gateway probe every one.
    void duplicatesByMac()
    {
        const QString mac = u"02:00:00:00:06:41"_s;
        const QStringList at = start({simDevice(Kind::Info, u"a"_s, u"127.0.6.41"_s, info(mac)),
                                      simDevice(Kind::Info, u"b"_s, u"127.0.6.42"_s, info(mac)),
                                      simDevice(Kind::Gateway, u"g1"_s, u"127.0.6.43"_s, gatewayData(u"g"_s)),
                                      simDevice(Kind::Gateway, u"g2"_s, u"127.0.6.44"_s, gatewayData(u"g"_s))});
        for (const QString &address : at) {
            const KitProbe probe(*m_controller, address, address == at[2] || address == at[3]
                                                             ? KitProbe::Form::XpicoData
                                                             : KitProbe::Form::DeviceInfo);
            QTRY_VERIFY(probe.ended());
        }
        QCOMPARE(m_controller->devices().size(), 2);
        QCOMPARE(m_controller->devices().at(0)->text(DeviceKey::hostname), u"a"_s);
        QCOMPARE(m_controller->vudiduDevices().size(), 2);
        QCOMPARE(m_controller->xpicoDevices().size(), 2);
        QCOMPARE(m_log->lines().filter(u"Corva/TRAM6 device found: "_s).size(), 1);
        QCOMPARE(m_log->lines().filter(u"XPico device found: "_s).size(), 2);
    }

    void recordsWithoutMacAreAddedEachTime()
    {
        const QStringList at = start({simDevice(Kind::Info, u"anon"_s, u"127.0.6.51"_s, {{u"tag"_s, u"1"_s}})});
        for (int i = 0; i < 2; ++i) {
            const KitProbe probe(*m_controller, at[0]);
            QTRY_VERIFY(probe.ended());
        }
        QCOMPARE(m_controller->devices().size(), 2);
        QCOMPARE(m_log->lines().filter(u"Corva/TRAM6 device found: "_s).size(), 2);
    }

    // The synchronous form returns only once the record is merged, the hand-over included.
    void synchronousFormsReturnAfterTheMerge()
    {
        const QStringList at = start({simDevice(Kind::InfoNotFound, u"legacy"_s, u"127.0.6.61"_s,
                                                gatewayData(u"02:00:00:00:06:61"_s))});
        std::atomic<bool> returned = false;
        std::atomic<qsizetype> listedOnReturn = -1;
        std::thread caller([&] {
            m_controller->getDeviceInfo(std::nullopt, at[0], std::nullopt, nullptr);
            mainSync([&] { listedOnReturn = m_controller->xpicoDevices().size(); });
            returned = true;
        });
        QTRY_VERIFY(returned);
        caller.join();
        QCOMPARE(listedOnReturn.load(), qsizetype(1));
    }

    // Hundreds of probes with every kind of ending under one limiter of 50 and one group,
    // started as the range scan starts them: every unit comes back exactly once, the group
    // empties once, and the devices never see more than 50 at a time.
    void kitStaysBalancedUnderLoad()
    {
        QList<DeviceProfile> devices;
        const QList<std::pair<Kind, Http>> kinds{
            {Kind::Info, Http::Normal},         {Kind::InfoNotFound, Http::Normal}, {Kind::Gateway, Http::Normal},
            {Kind::Info, Http::NotJson},        {Kind::Info, Http::NotObject},      {Kind::Info, Http::Status500},
            {Kind::Info, Http::Silent},         {Kind::InfoNotFound, Http::NotJson}, {Kind::Info, Http::Slow},
        };
        for (int i = 0; i < 45; ++i) {
            const auto [kind, http] = kinds.at(i % kinds.size());
            const QString mac = u"02:00:00:00:07:%1"_s.arg(i, 2, 16, QLatin1Char('0'));
            DeviceProfile device = withHttp(
                simDevice(kind, u"d%1"_s.arg(i), u"127.0.7.%1"_s.arg(i + 1), kind == Kind::Info ? info(mac) : gatewayData(mac)),
                http);
            device.httpSeconds = 1;
            devices.append(device);
        }
        QStringList addresses = start(devices);
        addresses.append(u"127.0.7.250:9"_s); // refused
        constexpr int rounds = 7;

        const auto limiter = std::make_shared<Semaphore>(50);
        const auto group = std::make_shared<DispatchGroup>();
        std::atomic<bool> done = false;
        std::thread caller([&] {
            for (int round = 0; round < rounds; ++round) {
                for (const QString &address : std::as_const(addresses)) {
                    group->enter();
                    limiter->wait();
                    m_controller->getDeviceInfoAsync(address, address, address, limiter, group);
                }
            }
            group->wait();
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done, 120'000);
        caller.join();

        int units = 0;
        while (limiter->tryWait())
            ++units;
        QCOMPARE(units, 50);
        // Per round: info answers from Info/Normal, Info/500 and the slow ones; gateway
        // answers from both hand-over kinds that serve an object.
        const auto count = [&](Kind kind, Http http) {
            return int(std::count_if(devices.cbegin(), devices.cend(), [&](const DeviceProfile &device) {
                return device.kind == kind && device.http == http;
            }));
        };
        const int infoAnswers = count(Kind::Info, Http::Normal) + count(Kind::Info, Http::Status500)
                                + count(Kind::Info, Http::Slow);
        const int gatewayAnswers = count(Kind::InfoNotFound, Http::Normal) + count(Kind::Gateway, Http::Normal);
        QCOMPARE(m_controller->vudiduDevices().size(), rounds * infoAnswers);
        QCOMPARE(m_controller->xpicoDevices().size(), rounds * gatewayAnswers);
        QCOMPARE(m_controller->devices().size(), infoAnswers + gatewayAnswers);
    }

    // The hand-over starts on the network thread: every pool thread blocked, and tasks
    // queued behind them waiting for the kit's limiter, cannot hold it up.
    void handOverRunsWhileThePoolIsBlocked()
    {
        const QStringList at = start({simDevice(Kind::InfoNotFound, u"legacy"_s, u"127.0.6.71"_s,
                                                gatewayData(u"02:00:00:00:06:71"_s))});
        BackgroundPool &pool = BackgroundPool::global();
        Semaphore gate(0);
        DispatchGroup queued;
        constexpr int blockers = 40; // more than the pool has threads
        for (int i = 0; i < blockers; ++i) {
            queued.enter();
            pool.async([&] {
                gate.wait();
                queued.leave();
            });
        }
        const auto limiter = std::make_shared<Semaphore>(1);
        QVERIFY(limiter->tryWait());
        for (int i = 0; i < 5; ++i) {
            queued.enter();
            pool.async([&, limiter] {
                limiter->wait();
                limiter->signal();
                queued.leave();
            });
        }

        const auto group = std::make_shared<DispatchGroup>();
        group->enter();
        m_controller->getDeviceInfoAsync(at[0], at[0], at[0], limiter, group);
        QTRY_COMPARE_WITH_TIMEOUT(m_controller->xpicoDevices().size(), 1, 10'000);
        group->wait();

        for (int i = 0; i < blockers; ++i)
            gate.signal();
        queued.wait();
        QVERIFY(limiter->tryWait()); // the probe's unit, passed along by the queued tasks
    }

    // A stop at any point of a run of probes started as the scan starts them: every probe
    // ends within about a second, each unit comes back once, the group empties once, no
    // merge happens after the stop, and every descriptor the probes opened, each of them
    // close-on-exec, is closed again.
    void stopEndsEveryProbeAtOnce_data()
    {
        QTest::addColumn<int>("stopAfterMs");
        QTest::newRow("at once") << 0;
        QTest::newRow("while connecting") << 20;
        QTest::newRow("while 50 probes wait for silent hosts") << 700;
        QTest::newRow("after slow answers and hand-overs") << 1600;
    }

    void stopEndsEveryProbeAtOnce()
    {
        QFETCH(int, stopAfterMs);
        QList<DeviceProfile> devices;
        const QList<std::pair<Kind, Http>> kinds{{Kind::Info, Http::Silent}, {Kind::Info, Http::Slow},
                                                 {Kind::InfoNotFound, Http::Slow}, {Kind::Info, Http::Normal}};
        for (int i = 0; i < 40; ++i) {
            const auto [kind, http] = kinds.at(i % kinds.size());
            const QString mac = u"02:00:00:00:08:%1"_s.arg(i, 2, 16, QLatin1Char('0'));
            DeviceProfile device = withHttp(
                simDevice(kind, u"d%1"_s.arg(i), u"127.0.8.%1"_s.arg(i + 1), kind == Kind::Info ? info(mac) : gatewayData(mac)),
                http);
            device.httpSeconds = 1;
            devices.append(device);
        }
        const QStringList addresses = start(devices);
        NetworkLoop::instance(); // its own descriptors stay
        const qsizetype descriptorsBefore = openDescriptors().size();

        const auto stop = std::make_shared<StopToken>();
        const auto limiter = std::make_shared<Semaphore>(50);
        const auto group = std::make_shared<DispatchGroup>();
        std::atomic<bool> done = false;
        std::thread caller([&] {
            for (int round = 0; round < 4 && !stop->isStopped(); ++round) {
                for (const QString &address : addresses) {
                    limiter->wait();
                    if (stop->isStopped()) {
                        limiter->signal();
                        break;
                    }
                    group->enter();
                    m_controller->getDeviceInfoAsync(address, address, address, limiter, group, stop);
                }
            }
            group->wait();
            done = true;
        });
        QTest::qWait(stopAfterMs);
        // Every socket; files and pipes may be the test runner's.
        for (const int descriptor : openDescriptors()) {
            char target[256] = {};
            if (readlink(qPrintable(u"/proc/self/fd/%1"_s.arg(descriptor)), target, sizeof target - 1) <= 0)
                continue; // closed since the listing
            QVERIFY2(!QByteArray(target).startsWith("socket:") || (fcntl(descriptor, F_GETFD) & FD_CLOEXEC), target);
        }
        const qsizetype foundAtStop = m_log->lines().filter(u"device found"_s).size();
        QElapsedTimer sinceStop;
        sinceStop.start();
        stop->stop();
        QTRY_VERIFY_WITH_TIMEOUT(done, 5000);
        QVERIFY2(sinceStop.elapsed() < 2000, qPrintable(QString::number(sinceStop.elapsed())));
        caller.join();
        int units = 0;
        while (limiter->tryWait())
            ++units;
        QCOMPARE(units, 50);
        QTest::qWait(100);
        QCOMPARE(m_log->lines().filter(u"device found"_s).size(), foundAtStop);
        QTRY_COMPARE(openDescriptors().size(), descriptorsBefore);
    }

private:
    // The descriptors above standard input, output and error.
    static QList<int> openDescriptors()
    {
        QList<int> descriptors;
        for (const QString &name : QDir(u"/proc/self/fd"_s).entryList(QDir::Files | QDir::System)) {
            if (name.toInt() > 2)
                descriptors.append(name.toInt());
        }
        return descriptors;
    }

    QStringList start(const QList<DeviceProfile> &devices)
    {
        m_sim = std::make_unique<DeviceSim>(devices, noDiscovery());
        QString error;
        if (!m_sim->start(&error))
            qFatal("devices did not start: %s", qPrintable(error));
        QStringList addresses;
        for (qsizetype i = 0; i < devices.size(); ++i)
            addresses.append(u"%1:%2"_s.arg(devices.at(i).address.toString()).arg(m_sim->httpPort(i)));
        return addresses;
    }

    std::shared_ptr<MainViewController> m_controller;
    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<DeviceSim> m_sim;
};

QTEST_GUILESS_MAIN(TestProbes)
#include "tst_probes.moc"
