#include "controller/mainviewcontroller.h"
#include "platform/addresstext.h"
#include "platform/backgroundpool.h"
#include "platform/boundedjson.h"
#include "probes/deviceinforecord.h"
#include "probes/deviceprobe.h"
#include "probes/httpclient.h"
#include "probes/networkloop.h"
#include "probes/unaskedaddresses.h"
#include "probes/xpicorecord.h"
#include "support/descriptors.h"
#include "support/devices.h"
#include "support/logcapture.h"
#include "support/tableresolver.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkProxy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <atomic>
#include <thread>

using namespace Qt::StringLiterals;
using Kind = DeviceProfile::Kind;
using Http = DeviceProfile::Http;

namespace {

QJsonObject info(const QString &mac, const QString &serial = u"10391234567"_s)
{
    return {{u"serialNumber"_s, serial}, {u"macAddress"_s, mac}, {u"uptime"_s, u"93784"_s},
            {u"tag"_s, u"2.4.1"_s},      {u"sha"_s, u"9f3c2e1"_s}};
}

QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

const QString recordAddress = u"10.0.0.7"_s;

QJsonObject gatewayData(const QString &mac)
{
    return {{u"devtype"_s, 57},
            {u"macAddress"_s, mac},
            {u"mgt"_s, QJsonObject{{u"name"_s, u"gw"_s}, {u"serialNo"_s, 5700123}, {u"uptime"_s, 42},
                                   {u"gatewayVer"_s, u"1.8.2"_s}}}};
}

// An "address:port" as the probe command reads it; any other text as given.
Address hostOf(const QString &text)
{
    return addressFromHostPort(text).value_or(addressFromText(text));
}

// One asynchronous probe under a kit of its own, a unit taken and the group entered first.
class KitProbe final {
public:
    KitProbe(MainViewController &controller, const QString &address, const QString &redirect = {})
        : m_run(std::make_shared<Run>(Run::Kind::Probe, controller.weak_from_this()))
    {
        m_tookUnit = m_limiter->tryWait();
        m_group->enter();
        m_clock.start();
        probe({hostOf(address), redirect.isEmpty() ? address : redirect, ProbeKind::DeviceInfo, m_run,
               ProbeTicket(m_limiter, m_group)});
        m_waiter = std::thread([this] {
            m_group->wait();
            m_elapsed = m_clock.elapsed();
            m_ended = true;
        });
    }
    ~KitProbe() { m_waiter.join(); }
    KitProbe(const KitProbe &) = delete;
    KitProbe &operator=(const KitProbe &) = delete;

    void stop() { m_run->stop(); }
    bool ended() const { return m_ended; }
    qint64 elapsedMs() const { return m_elapsed; }
    bool gaveBackOneUnit() const { return m_tookUnit && m_limiter->tryWait() && !m_limiter->tryWait(); }

private:
    std::shared_ptr<Semaphore> m_limiter = std::make_shared<Semaphore>(1);
    std::shared_ptr<DispatchGroup> m_group = std::make_shared<DispatchGroup>();
    std::shared_ptr<Run> m_run;
    bool m_tookUnit = false;
    QElapsedTimer m_clock;
    std::atomic<qint64> m_elapsed = -1;
    std::atomic<bool> m_ended = false;
    std::thread m_waiter;
};

} // namespace

// Simulated devices on loopback. This thread turns the event loop, as every merge waits for it.
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

    // The uptime as "Nd HH:MM:SS"; the model code in the serial number names the type.
    void infoRecords_data()
    {
        QTest::addColumn<QJsonObject>("reply");
        QTest::addColumn<QString>("uptime");
        QTest::addColumn<QJsonValue>("deviceType"); // undefined: no key
        const QJsonValue none(QJsonValue::Undefined);
        const auto up = [](const QJsonValue &uptime) { return QJsonObject{{u"uptime"_s, uptime}}; };
        QTest::newRow("negative keeps its sign") << up(-61) << u"0d 00:-1:-1"_s << none;
        QTest::newRow("fraction cut off") << up(3599.7) << u"0d 00:59:59"_s << none;
        QTest::newRow("text") << up(u"7200"_s) << u"0d 02:00:00"_s << none;
        QTest::newRow("true") << up(true) << u"0d 00:00:01"_s << none;
        QTest::newRow("huge text clamps") << up(u"99999999999999999999999"_s) << u"24855d 03:14:07"_s << none;
        const QString zero = u"0d 00:00:00"_s;
        QTest::newRow("known code") << QJsonObject{{u"serialNumber"_s, u"10601"_s}} << zero << QJsonValue(u"HB-5E"_s);
        QTest::newRow("unknown code removes the reply's")
            << QJsonObject{{u"serialNumber"_s, u"12345678"_s}, {u"deviceType"_s, u"own"_s}} << zero << none;
        QTest::newRow("four characters keep the reply's")
            << QJsonObject{{u"serialNumber"_s, u"1039"_s}, {u"deviceType"_s, u"own"_s}} << zero << QJsonValue(u"own"_s);
        QTest::newRow("no serial keeps the reply's")
            << QJsonObject{{u"deviceType"_s, u"own"_s}} << zero << QJsonValue(u"own"_s);
        QTest::newRow("number as decimal text")
            << QJsonObject{{u"serialNumber"_s, 11330042}} << zero << QJsonValue(u"RT-42I"_s);
        QTest::newRow("code must match whole")
            << QJsonObject{{u"serialNumber"_s, u"106x1"_s}, {u"deviceType"_s, u"own"_s}} << zero << none;
    }

    void infoRecords()
    {
        QFETCH(QJsonObject, reply);
        const auto record = deviceInfoRecord(json(reply), recordAddress, recordAddress);
        QTEST(record->text(DeviceKey::uptime), "uptime");
        QTEST(record->value(DeviceKey::deviceType), "deviceType");
    }

    // A reply is parsed within the bounds of all untrusted JSON: past the objects and arrays a
    // parse may build, there is no record, however few bytes it takes.
    void repliesWithinTheJsonBounds_data()
    {
        QTest::addColumn<qsizetype>("arrays");
        QTest::addColumn<bool>("recorded");
        QTest::newRow("at the bound") << maxJsonContainers - 2 << true; // with the reply and its list
        QTest::newRow("one more") << maxJsonContainers - 1 << false;
    }

    void repliesWithinTheJsonBounds()
    {
        QFETCH(qsizetype, arrays);
        QFETCH(bool, recorded);
        const QByteArray body = "{\"a\":[" + QByteArray("[],").repeated(arrays - 1) + "[]]}";
        QVERIFY(body.size() < 1024 * 1024);
        QCOMPARE(deviceInfoRecord(body, recordAddress, {}).has_value(), recorded);
        QCOMPARE(xpicoRecord(body, recordAddress, {}).has_value(), recorded);
    }

    void gatewayRecords_data()
    {
        QTest::addColumn<QJsonObject>("reply");
        QTest::addColumn<QJsonObject>("record"); // besides ipAddress and redirectAddress
        const QJsonObject mgt{{u"name"_s, u"gw-mgt"_s}, {u"serialNo"_s, 5700123}, {u"uptime"_s, 7200},
                              {u"gatewayVer"_s, u"1.8.2"_s}};
        const QJsonObject reply{{u"name"_s, u"gw-top"_s}, {u"uptime"_s, 300}, {u"macAddress"_s, u"02:00:5e:20:00:21"_s},
                                {u"macaddr"_s, u"02:00:5e:20:00:22"_s}, {u"mgt"_s, mgt}, {u"extra"_s, u"not kept"_s}};
        const auto with = [&](const QJsonValue &devtype) {
            QJsonObject object = reply;
            object[u"devtype"_s] = devtype;
            return object;
        };
        // The serial number as it came for HB-5, as text for HB-1.
        const QJsonObject hb5{{u"hostname"_s, u"gw-mgt"_s}, {u"serialNumber"_s, 5700123}, {u"uptime"_s, 7200},
                              {u"tag"_s, u"1.8.2"_s}, {u"macAddress"_s, u"02:00:5e:20:00:21"_s}, {u"deviceType"_s, u"HB-5"_s}};
        const QJsonObject hb1{{u"hostname"_s, u"gw-top"_s}, {u"serialNumber"_s, u"5700123"_s}, {u"uptime"_s, 300},
                              {u"tag"_s, u"1.8.2"_s}, {u"macAddress"_s, u"02:00:5e:20:00:22"_s}, {u"deviceType"_s, u"HB-1"_s}};
        QTest::newRow("57") << with(57) << hb5;
        QTest::newRow("text 57") << with(u"57"_s) << hb1;
        QTest::newRow("57 without mgt")
            << QJsonObject{{u"devtype"_s, 57}, {u"macAddress"_s, u"m"_s}, {u"name"_s, u"top"_s}}
            << QJsonObject{{u"macAddress"_s, u"m"_s}, {u"deviceType"_s, u"HB-5"_s}};
        QTest::newRow("other without mgt")
            << QJsonObject{{u"macaddr"_s, u"m"_s}, {u"name"_s, u"top"_s}, {u"uptime"_s, u"5 min"_s}}
            << QJsonObject{{u"macAddress"_s, u"m"_s}, {u"hostname"_s, u"top"_s}, {u"uptime"_s, u"5 min"_s},
                           {u"deviceType"_s, u"HB-1"_s}};
        QTest::newRow("no MAC under its case's key")
            << QJsonObject{{u"devtype"_s, 12}, {u"macAddress"_s, u"m"_s}} << QJsonObject{{u"deviceType"_s, u"HB-1"_s}};
    }

    void gatewayRecords()
    {
        QFETCH(QJsonObject, reply);
        QFETCH(QJsonObject, record);
        QJsonObject expected = record;
        expected[u"ipAddress"_s] = recordAddress;
        expected[u"redirectAddress"_s] = u"gw.lan"_s;
        QCOMPARE(xpicoRecord(json(reply), recordAddress, u"gw.lan"_s)->object(), expected);
    }

    void urlsAreTakenOnlyAsWritten_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("taken");
        QTest::newRow("dotted quad") << u"10.0.0.7"_s << true;
        QTest::newRow("with a port") << u"127.0.0.5:8080"_s << true;
        QTest::newRow("host name") << u"corva-hall"_s << true;
        QTest::newRow("trailing blank") << u"10.0.0.1 "_s << false;
        QTest::newRow("leading zero") << u"010.0.0.1"_s << false;
        QTest::newRow("user part") << u"192.168.1.7@localhost"_s << false;
        QTest::newRow("a path before /info") << u"10.0.0.1/x"_s << false;
        QTest::newRow("non-ASCII host") << u"gerät"_s << false;
        QTest::newRow("empty host") << QString() << false;
    }

    void urlsAreTakenOnlyAsWritten()
    {
        QFETCH(QString, address);
        QTEST(probeUrl(addressFromText(address), u"/info"_s).has_value(), "taken");
    }
    // A record is logged whole, its ipAddress and redirectAddress replaced; a 404 hands over to
    // the gateway probe with the same kit. A MAC seen before (same case) is listed once, noted
    // in the found list each time, logged only by the gateway probe; without a MAC, it is new.
    void answersBecomeRecords()
    {
        const QString mac = u"02:00:00:00:06:0a"_s;
        QJsonObject reply = info(mac);
        reply.insert(u"ipAddress"_s, u"10.9.9.9"_s);
        reply.insert(u"redirectAddress"_s, u"elsewhere"_s);
        reply.insert(u"room"_s, QJsonObject{{u"floor"_s, 2}, {u"tags"_s, QJsonArray{u"a"_s}}});
        const QStringList at = start(
            {simDevice(Kind::Info, u"corva-hall"_s, u"127.0.6.1"_s, reply),
             simDevice(Kind::InfoNotFound, u"legacy"_s, u"127.0.6.11"_s, gatewayData(u"g"_s)),
             simDevice(Kind::Info, u"b"_s, u"127.0.6.42"_s, info(mac)),
             simDevice(Kind::Gateway, u"g2"_s, u"127.0.6.44"_s, gatewayData(u"g"_s)),
             simDevice(Kind::Info, u"anon"_s, u"127.0.6.45"_s, {{u"tag"_s, u"1"_s}}),
             simDevice(Kind::Info, u"upper"_s, u"127.0.6.46"_s, info(mac.toUpper()))});
        for (const QString &address : at + QStringList{at[4]}) {
            const KitProbe probe(*m_controller, address, u"name.lan"_s);
            QTRY_VERIFY(probe.ended());
            QVERIFY(probe.gaveBackOneUnit());
        }
        const QJsonObject expected{{u"hostname"_s, u"corva-hall"_s}, {u"serialNumber"_s, u"10391234567"_s},
                                   {u"macAddress"_s, mac}, {u"uptime"_s, u"1d 02:03:04"_s},
                                   {u"tag"_s, u"2.4.1"_s}, {u"sha"_s, u"9f3c2e1"_s}, {u"ipAddress"_s, at[0]},
                                   {u"redirectAddress"_s, u"name.lan"_s}, {u"deviceType"_s, u"RT-41"_s},
                                   {u"room"_s, reply.value(u"room"_s)}};
        QCOMPARE(m_controller->devices().value(0)->object(), expected);
        const Device legacy = m_controller->xpicoDevices().value(0);
        QVERIFY(legacy);
        QCOMPARE((QStringList{legacy->text(DeviceKey::redirectAddress), legacy->text(DeviceKey::ipAddress),
                              legacy->text(DeviceKey::deviceType)}), (QStringList{at[1], at[1], u"HB-5"_s}));
        const QString record = QString::fromUtf8(QJsonDocument(expected).toJson(QJsonDocument::Compact));
        const QStringList lines = m_log->lines();
        QCOMPARE(lines.mid(0, 5), (QStringList{u"GET http://%1/info"_s.arg(at[0]), u"Corva/TRAM6 device found: "_s + record,
                                               u"GET http://%1/info"_s.arg(at[1]),
                                               u"Attempting to query %1 as XPico device..."_s.arg(at[1]),
                                               u"GET http://%1/getdata.json"_s.arg(at[1])}));
        QVERIFY(lines.value(5).startsWith(u"XPico device found: {"_s));
        QCOMPARE((QList<qsizetype>{m_controller->devices().size(), m_controller->vudiduDevices().size(),
                                   m_controller->xpicoDevices().size(), lines.filter(u"Corva/TRAM6 device found: "_s).size(),
                                   lines.filter(u"XPico device found: "_s).size()}), (QList<qsizetype>{5, 5, 2, 4, 2}));
    }

    // Any HTTP status is a response: only a 404 of "/info" hands over; any other with an object is a record.
    void replies_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<Http>("http");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("listed");
        QTest::newRow("not JSON") << Kind::Info << Http::NotJson << QString() << 0 << false;
        QTest::newRow("not an object") << Kind::Info << Http::NotObject << QString() << 0 << false;
        QTest::newRow("body over 1 MiB") << Kind::Info << Http::Large << QString() << 0 << false;
        QTest::newRow("gateway not JSON") << Kind::InfoNotFound << Http::NotJson << QString() << 0 << false;
        for (const int status : {203, 300, 400, 503}) {
            QTest::addRow("%d with an object", status) << Kind::Info << Http::Normal << u"/info"_s << status << true;
            QTest::addRow("gateway %d with an object", status)
                << Kind::InfoNotFound << Http::Normal << u"/getdata.json"_s << status << true;
        }
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
        const QString mac = u"02:00:00:00:06:21"_s;
        DeviceProfile device = withHttp(simDevice(kind, u"d"_s, u"127.0.6.21"_s, kind == Kind::Info ? info(mac) : gatewayData(mac)), http);
        device.bodyMiB = 2;
        if (status != 0)
            device.statuses.insert(path.toUtf8(), status);
        const QStringList at = start({device});
        const KitProbe probe(*m_controller, at[0]);
        QTRY_VERIFY(probe.ended());
        QVERIFY(probe.gaveBackOneUnit());
        const DeviceList &found = kind == Kind::Info ? m_controller->vudiduDevices() : m_controller->xpicoDevices();
        QCOMPARE((QList<qsizetype>{m_controller->devices().size(), found.size()}), QList<qsizetype>(2, listed ? 1 : 0));
    }

    // Refused, silent, or a byte at a time: each probe ends in its own time and gives its unit back.
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
        QVERIFY2(trickle.elapsedMs() >= 25'000 && trickle.elapsedMs() < 45'000,
                 qPrintable(QString::number(trickle.elapsedMs())));
        QVERIFY(blank.elapsedMs() < 2000 && m_controller->devices().isEmpty());
        QCOMPARE(m_sim->acceptedConnections(), qint64(2));

        // Stopped, a silent probe ends at once, not at its time-out.
        KitProbe stopped(*m_controller, at[0]);
        QTest::qWait(300);
        stopped.stop();
        QTRY_VERIFY_WITH_TIMEOUT(stopped.ended(), 1'000);
    }

    void redirects_data()
    {
        QTest::addColumn<QString>("location"); // %1: a device on another port, %2: on another host
        QTest::addColumn<bool>("listed");
        QTest::newRow("same host and port") << u"/moved"_s << true;
        QTest::newRow("another port") << u"http://127.0.6.81:%1/info"_s << false;
        QTest::newRow("another host") << u"http://127.0.6.82:%2/info"_s << false;
        QTest::newRow("endless") << u"/info"_s << false;
    }

    void redirects()
    {
        QFETCH(QString, location);
        QFETCH(bool, listed);
        const QStringList at = start({simDevice(Kind::Info, u"port"_s, u"127.0.6.81"_s, info(u"02:00:00:00:06:81"_s)),
                                      simDevice(Kind::Info, u"host"_s, u"127.0.6.82"_s, info(u"02:00:00:00:06:82"_s))});
        location.replace(u"%1"_s, QString::number(m_sim->httpPort(0)));
        location.replace(u"%2"_s, QString::number(m_sim->httpPort(1)));
        QTcpServer mover;
        mover.setProxy(QNetworkProxy::NoProxy);
        QVERIFY(mover.listen(QHostAddress(u"127.0.6.81"_s), m_sim->httpPort(1)));
        connect(&mover, &QTcpServer::newConnection, &mover, [&] {
            QTcpSocket *socket = mover.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [socket, location] {
                const bool moved = socket->readAll().startsWith("GET /info ");
                const QByteArray body = moved ? QByteArray() : QJsonDocument(info(u"m"_s)).toJson();
                const QByteArray head = moved ? "302 Found\r\nLocation: " + location.toUtf8() : "200 OK";
                socket->write("HTTP/1.1 " + head + "\r\nConnection: close\r\nContent-Length: "
                              + QByteArray::number(body.size()) + "\r\n\r\n" + body);
                socket->disconnectFromHost();
            });
        });
        const KitProbe probe(*m_controller, u"127.0.6.81:%1"_s.arg(mover.serverPort()));
        QTRY_VERIFY_WITH_TIMEOUT(probe.ended(), 10'000);
        QVERIFY(probe.gaveBackOneUnit());
        QCOMPARE(m_controller->devices().size(), listed ? 1 : 0);
    }

    // The hand-over runs apart from the pool whose tasks run the runs: a blocked pool
    // cannot hold it up.
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
            pool.async([&] { gate.wait(), queued.leave(); });
        }
        const auto limiter = std::make_shared<Semaphore>(1);
        QVERIFY(limiter->tryWait());
        for (int i = 0; i < 5; ++i) {
            queued.enter();
            pool.async([&, limiter] { limiter->wait(), limiter->signal(), queued.leave(); });
        }

        const auto group = std::make_shared<DispatchGroup>();
        group->enter();
        probe({hostOf(at[0]), at[0], ProbeKind::DeviceInfo, std::make_shared<Run>(Run::Kind::Probe, m_controller),
               ProbeTicket(limiter, group)});
        // The probe leaves its group after its merge: the hand-over keeps its ticket.
        std::atomic<qsizetype> foundAtEnd = -1;
        std::thread waiter([&] { group->wait(); foundAtEnd = m_log->lines().filter(u"XPico device found"_s).size(); });
        QTRY_COMPARE_WITH_TIMEOUT(m_controller->xpicoDevices().size(), 1, 10'000);
        waiter.join();
        QCOMPARE(foundAtEnd.load(), 1);

        for (int i = 0; i < blockers; ++i)
            gate.signal();
        queued.wait();
        QVERIFY(limiter->tryWait()); // the probe's unit, passed along by the queued tasks
    }

    // Probes with every kind of ending, started as the scan starts them, then stopped: all end
    // within about a second, each unit comes back once, no merge follows, no socket is left.
    void stopEndsEveryProbeAtOnce_data()
    {
        QTest::addColumn<int>("stopAfterMs");
        QTest::addColumn<bool>("mainThreadBusy"); // merges wait for it, and meet the stop
        QTest::newRow("at once") << 0 << false;
        QTest::newRow("while 50 probes wait for silent hosts") << 700 << false;
        QTest::newRow("while merges wait for the main thread") << 700 << true;
        QTest::newRow("after slow answers and hand-overs") << 1600 << false;
    }

    void stopEndsEveryProbeAtOnce()
    {
        QFETCH(int, stopAfterMs);
        QFETCH(bool, mainThreadBusy);
        QList<DeviceProfile> devices;
        const QList<std::pair<Kind, Http>> kinds{
            {Kind::Info, Http::Silent},      {Kind::Info, Http::Slow},       {Kind::InfoNotFound, Http::Slow},
            {Kind::Info, Http::Normal},      {Kind::Gateway, Http::Normal},  {Kind::Info, Http::NotJson},
            {Kind::Info, Http::Status500},   {Kind::InfoNotFound, Http::NotJson}};
        for (int i = 0; i < 40; ++i) {
            const auto [kind, http] = kinds.at(i % kinds.size());
            const QString mac = u"02:00:00:00:08:%1"_s.arg(i, 2, 16, QLatin1Char('0'));
            devices.append(withHttp(
                simDevice(kind, u"d%1"_s.arg(i), u"127.0.18.%1"_s.arg(i + 1), kind == Kind::Info ? info(mac) : gatewayData(mac)),
                http));
            devices.last().httpSeconds = 1;
        }
        const QStringList addresses = start(devices) + QStringList{u"127.0.18.250:9"_s}; // refused
        NetworkLoop::instance(); // its own descriptors stay
        const qsizetype descriptorsBefore = openDescriptors().size();

        const auto run = std::make_shared<Run>(Run::Kind::Scan, m_controller);
        const auto limiter = std::make_shared<Semaphore>(50);
        const auto group = std::make_shared<DispatchGroup>();
        std::atomic<bool> done = false;
        std::thread caller([&] {
            for (int round = 0; round < 4 && !run->isStopped(); ++round) {
                for (const QString &address : addresses) {
                    limiter->wait();
                    if (run->isStopped()) {
                        limiter->signal();
                        break;
                    }
                    group->enter();
                    probe({hostOf(address), address, ProbeKind::DeviceInfo, run, ProbeTicket(limiter, group)});
                }
            }
            group->wait();
            done = true;
        });
        if (mainThreadBusy)
            std::this_thread::sleep_for(std::chrono::milliseconds(stopAfterMs));
        else
            QTest::qWait(stopAfterMs);
        QVERIFY(socketsCloseOnExec());
        const qsizetype foundAtStop = m_log->lines().filter(u"device found"_s).size();
        QElapsedTimer sinceStop;
        sinceStop.start();
        run->stop();
        QTRY_VERIFY_WITH_TIMEOUT(done, 5000);
        QVERIFY2(sinceStop.elapsed() < 2000, qPrintable(QString::number(sinceStop.elapsed())));
        caller.join();
        int units = 0;
        for (; limiter->tryWait(); ++units) { }
        QCOMPARE(units, 50);
        QTest::qWait(100);
        QCOMPARE(m_log->lines().filter(u"device found"_s).size(), foundAtStop);
        QTRY_COMPARE(openDescriptors().size(), descriptorsBefore);
    }

    // Addresses without a route, in any order, kept as joined stretches: exact however long
    // a stretch, not once too scattered.
    void unaskedAddresses()
    {
        UnaskedAddresses unasked;
        for (const char *address : {"10.0.0.3", "10.0.0.1", "10.0.0.7", "10.0.0.2", "10.0.0.1", "255.255.255.255", "0.0.0.0"})
            unasked.add(addressFromText(QString::fromLatin1(address)));
        for (quint32 address = 0x0B000000; address < 0x0B020000; ++address)
            unasked.add(Address::ipv4(address));
        for (const char *address : {"0.0.0.0", "10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.7", "11.1.255.255", "255.255.255.255"})
            QVERIFY2(unasked.contains(addressFromText(QString::fromLatin1(address))), address);
        for (const char *address : {"0.0.0.1", "10.0.0.0", "10.0.0.4", "10.0.0.1 ", "11.2.0.0", "255.255.255.254"})
            QVERIFY2(!unasked.contains(addressFromText(QString::fromLatin1(address))), address);
        QVERIFY(unasked.isExact());
        for (quint32 i = 0; i < UnaskedAddresses::maxIntervals; ++i)
            unasked.add(Address::ipv4(0x0C000000 + 2 * i));
        QVERIFY(!unasked.isExact() && !unasked.contains(addressFromText(u"10.0.0.1")));
    }

private:
    // Starts the devices and gives each one's "address:port" to probe.
    QStringList start(const QList<DeviceProfile> &devices)
    {
        m_sim = startDevices(devices);
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
