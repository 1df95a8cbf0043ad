#include "tools/devicesim/devicesim.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkProxy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

// The client side uses blocking calls on the test's own thread throughout: the devices
// must answer from theirs.
class TestDeviceSim final : public QObject {
    Q_OBJECT

private slots:
    void answersBroadcastsFromOwnAddress();
    void sendsTheConfiguredDatagrams_data();
    void sendsTheConfiguredDatagrams();
    void servesDocuments();
    void uptimeCountsUp();
    void bodyFaults_data();
    void bodyFaults();
    void silentDeviceNeverAnswers();
    void slowDeviceAnswersLate();
    void trickleDeviceSendsOneByteAtATime();
    void failedStartReleasesEverything();
    void rangesAreSilentOrRefuse();
};

namespace {

struct Datagram {
    QString sender;
    QByteArray data;
};

struct Response {
    int status = 0;
    QByteArray head;
    QByteArray body;
};

const QByteArray zeph = QByteArrayLiteral("Zeph");
const QByteArray gatewayAsk = QByteArrayLiteral("\x00\x01\x00\xF6");

DeviceProfile device(const QString &name, const QString &address, DeviceProfile::Kind kind, QJsonObject document = {})
{
    DeviceProfile profile;
    profile.name = name;
    profile.address = QHostAddress(address);
    profile.kind = kind;
    profile.httpPort = 0;
    profile.document = document;
    if (kind == DeviceProfile::Kind::Info && !document.contains(u"hostname"))
        profile.document.insert(u"hostname"_s, name);
    return profile;
}

SimOptions anyPorts()
{
    SimOptions options;
    options.infoPort = 0;
    options.gatewayPort = 0;
    return options;
}

// Broadcasts `request` on loopback and collects what comes back: it waits up to `waitMs`
// for the first reply (long enough for a loaded machine), then until none has come for
// 300 ms, since a device sends all of its replies at once.
QList<Datagram> broadcast(quint16 port, const QByteArray &request, int waitMs = 3000)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    inet_aton("127.255.255.255", &to.sin_addr);
    sendto(fd, request.constData(), request.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    QList<Datagram> replies;
    QElapsedTimer clock;
    clock.start();
    constexpr int quietMs = 300;
    pollfd readable {fd, POLLIN, 0};
    while (poll(&readable, 1, replies.isEmpty() ? static_cast<int>(qMax<qint64>(0, waitMs - clock.elapsed())) : quietMs) == 1) {
        char buffer[2048];
        sockaddr_in from {};
        socklen_t length = sizeof from;
        const ssize_t size = recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from), &length);
        if (size >= 0)
            replies.append({QString::fromLatin1(inet_ntoa(from.sin_addr)), QByteArray(buffer, size)});
    }
    close(fd);
    return replies;
}

QTcpSocket *openRequest(QTcpSocket &socket, const DeviceSim &sim, int device, const DeviceProfile &profile,
                        const QByteArray &path)
{
    socket.setProxy(QNetworkProxy::NoProxy);
    socket.connectToHost(profile.address, sim.httpPort(device));
    if (!socket.waitForConnected(2000))
        return nullptr;
    socket.write("GET " + path + " HTTP/1.1\r\nHost: x\r\nAccept: application/json\r\n\r\n");
    socket.waitForBytesWritten(1000);
    return &socket;
}

Response get(const DeviceSim &sim, int device, const DeviceProfile &profile, const QByteArray &path)
{
    QTcpSocket socket;
    if (!openRequest(socket, sim, device, profile, path))
        return {};
    QByteArray all;
    while (socket.waitForReadyRead(3000))
        all += socket.readAll();
    all += socket.readAll();
    const qsizetype end = all.indexOf("\r\n\r\n");
    if (end < 0)
        return {};
    return {all.mid(9, 3).toInt(), all.left(end), all.mid(end + 4)};
}

QStringList senders(const QList<Datagram> &datagrams)
{
    QStringList list;
    for (const Datagram &datagram : datagrams)
        list.append(datagram.sender);
    list.sort();
    return list;
}

} // namespace

void TestDeviceSim::answersBroadcastsFromOwnAddress()
{
    DeviceSim sim({device(u"a"_s, u"127.0.4.11"_s, DeviceProfile::Kind::Info),
                   device(u"b"_s, u"127.0.4.12"_s, DeviceProfile::Kind::Info),
                   device(u"gw"_s, u"127.0.4.21"_s, DeviceProfile::Kind::Gateway),
                   device(u"old"_s, u"127.0.4.31"_s, DeviceProfile::Kind::InfoNotFound)},
                  anyPorts());
    QString error;
    QVERIFY2(sim.start(&error), qPrintable(error));

    const QList<Datagram> info = broadcast(sim.infoPort(), zeph);
    QCOMPARE(senders(info), (QStringList{u"127.0.4.11"_s, u"127.0.4.12"_s, u"127.0.4.31"_s}));
    for (const Datagram &reply : info)
        QVERIFY2(reply.data.startsWith("Server"), reply.data.constData());

    const QList<Datagram> gateway = broadcast(sim.gatewayPort(), gatewayAsk);
    QCOMPARE(senders(gateway), QStringList{u"127.0.4.21"_s});
    QCOMPARE(static_cast<uchar>(gateway.first().data.at(3)), 0xF7);

    QVERIFY(broadcast(sim.infoPort(), "zeph", 500).isEmpty());
    QVERIFY(broadcast(sim.infoPort(), gatewayAsk, 500).isEmpty());
    QVERIFY(broadcast(sim.gatewayPort(), zeph, 500).isEmpty());
}

void TestDeviceSim::sendsTheConfiguredDatagrams_data()
{
    QTest::addColumn<DeviceProfile::Kind>("kind");
    QTest::addColumn<DeviceProfile::Udp>("udp");
    QTest::addColumn<QList<QByteArray>>("expected");

    using K = DeviceProfile::Kind;
    using U = DeviceProfile::Udp;
    auto gatewayReply = [](char code) {
        QByteArray reply(30, '\0');
        reply[3] = code;
        return reply;
    };
    QTest::newRow("info reply") << K::Info << U::Reply << QList<QByteArray>{"Server dev"};
    QTest::newRow("info none") << K::Info << U::None << QList<QByteArray>{};
    QTest::newRow("info twice") << K::Info << U::Twice << QList<QByteArray>{"Server dev", "Server dev"};
    QTest::newRow("info wrong code") << K::Info << U::WrongCode << QList<QByteArray>{"Servex dev"};
    QTest::newRow("info short") << K::Info << U::Short << QList<QByteArray>{"Serve"};
    QTest::newRow("info other case") << K::Info << U::OtherCase << QList<QByteArray>{"SERVER dev"};
    QTest::newRow("info echo") << K::Info << U::Echo << QList<QByteArray>{"Zeph"};
    QTest::newRow("info nul") << K::Info << U::Nul << QList<QByteArray>{QByteArray("Ser\0ver dev", 11)};
    QTest::newRow("info oversize") << K::Info << U::Oversize
                                   << QList<QByteArray>{"Server dev" + QByteArray(590, '.')};
    QTest::newRow("gateway reply") << K::Gateway << U::Reply << QList<QByteArray>{gatewayReply('\xF7')};
    QTest::newRow("gateway wrong code") << K::Gateway << U::WrongCode << QList<QByteArray>{gatewayReply('\xF8')};
    QTest::newRow("gateway short") << K::Gateway << U::Short << QList<QByteArray>{QByteArray(3, '\0')};
    QTest::newRow("gateway echo") << K::Gateway << U::Echo << QList<QByteArray>{gatewayAsk};
    QTest::newRow("gateway nul") << K::Gateway << U::Nul << QList<QByteArray>{QByteArray("bad\0x", 5)};
    QTest::newRow("gateway oversize") << K::Gateway << U::Oversize
                                      << QList<QByteArray>{gatewayReply('\xF7') + QByteArray(570, '.')};
}

void TestDeviceSim::sendsTheConfiguredDatagrams()
{
    QFETCH(DeviceProfile::Kind, kind);
    QFETCH(DeviceProfile::Udp, udp);
    QFETCH(QList<QByteArray>, expected);

    DeviceProfile profile = device(u"dev"_s, u"127.0.4.41"_s, kind);
    profile.udp = udp;
    DeviceSim sim({profile}, anyPorts());
    QVERIFY(sim.start());
    const bool info = kind != DeviceProfile::Kind::Gateway;
    const QList<Datagram> replies =
        broadcast(info ? sim.infoPort() : sim.gatewayPort(), info ? zeph : gatewayAsk, expected.isEmpty() ? 1000 : 3000);
    QList<QByteArray> received;
    for (const Datagram &reply : replies) {
        QCOMPARE(reply.sender, u"127.0.4.41"_s);
        received.append(reply.data);
    }
    QCOMPARE(received, expected);
}

void TestDeviceSim::servesDocuments()
{
    const QJsonObject info{{u"serialNumber"_s, u"10391234567"_s}, {u"macAddress"_s, u"02:00:00:00:00:51"_s},
                           {u"tag"_s, u"2.4.1"_s}, {u"sha"_s, u"9f3c2e1"_s}, {u"room"_s, u"lab"_s}};
    const QJsonObject data{{u"devtype"_s, 57}, {u"macAddress"_s, u"02:00:00:00:00:52"_s},
                           {u"mgt"_s, QJsonObject{{u"name"_s, u"gw"_s}, {u"serialNo"_s, 5700123}}}};
    const QList<DeviceProfile> profiles{device(u"corva"_s, u"127.0.4.51"_s, DeviceProfile::Kind::Info, info),
                                  device(u"gw"_s, u"127.0.4.52"_s, DeviceProfile::Kind::Gateway, data),
                                  device(u"old"_s, u"127.0.4.53"_s, DeviceProfile::Kind::InfoNotFound, data)};
    DeviceSim sim(profiles, anyPorts());
    QVERIFY(sim.start());

    const Response corva = get(sim, 0, profiles[0], "/info");
    QCOMPARE(corva.status, 200);
    QVERIFY(corva.head.contains("Content-Type: application/json"));
    QJsonObject expected = info;
    expected.insert(u"hostname"_s, u"corva"_s);
    QJsonObject served = QJsonDocument::fromJson(corva.body).object();
    QVERIFY(served.value(u"uptime").isDouble());
    served.remove(u"uptime"_s);
    QCOMPARE(served, expected);
    QCOMPARE(get(sim, 0, profiles[0], "/getdata.json").status, 404);

    const Response gateway = get(sim, 1, profiles[1], "/getdata.json");
    QCOMPARE(gateway.status, 200);
    QCOMPARE(QJsonDocument::fromJson(gateway.body).object(), data);
    QCOMPARE(get(sim, 1, profiles[1], "/info").status, 404);

    QCOMPARE(get(sim, 2, profiles[2], "/info").status, 404);
    QCOMPARE(QJsonDocument::fromJson(get(sim, 2, profiles[2], "/getdata.json").body).object(), data);
}

void TestDeviceSim::uptimeCountsUp()
{
    const DeviceProfile profile = device(u"up"_s, u"127.0.4.61"_s, DeviceProfile::Kind::Info, {{u"uptime"_s, 100}});
    DeviceSim sim({profile}, anyPorts());
    QVERIFY(sim.start());
    const auto uptime = [&] {
        return QJsonDocument::fromJson(get(sim, 0, profile, "/info").body).object().value(u"uptime").toInteger(-1);
    };
    // Whole seconds since the start, read between two clock readings: on a loaded machine
    // the requests themselves may take a while, so the bounds follow the clock.
    QElapsedTimer clock;
    clock.start();
    const qint64 first = uptime();
    const qint64 firstBound = clock.elapsed() / 1000 + 1;
    QVERIFY2(first >= 100 && first <= 100 + firstBound, qPrintable(QString::number(first)));
    QTest::qSleep(2100);
    const qint64 before = clock.elapsed();
    const qint64 later = uptime();
    const qint64 after = clock.elapsed();
    QVERIFY2(later >= first + before / 1000 - 1 && later <= first + after / 1000 + 1,
             qPrintable(QStringLiteral("%1 then %2 within %3 ms").arg(first).arg(later).arg(after)));
    QVERIFY(later > first);
}

void TestDeviceSim::bodyFaults_data()
{
    QTest::addColumn<DeviceProfile::Http>("fault");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("shape");
    QTest::newRow("not JSON") << DeviceProfile::Http::NotJson << 200 << u"none"_s;
    QTest::newRow("not an object") << DeviceProfile::Http::NotObject << 200 << u"array"_s;
    QTest::newRow("status 500") << DeviceProfile::Http::Status500 << 500 << u"object"_s;
    QTest::newRow("large") << DeviceProfile::Http::Large << 200 << u"object"_s;
}

void TestDeviceSim::bodyFaults()
{
    QFETCH(DeviceProfile::Http, fault);
    QFETCH(int, status);
    QFETCH(QString, shape);
    DeviceProfile profile = device(u"faulty"_s, u"127.0.4.71"_s, DeviceProfile::Kind::Info, {{u"macAddress"_s, u"m"_s}});
    profile.http = fault;
    profile.bodyMiB = 2;
    DeviceSim sim({profile}, anyPorts());
    QVERIFY(sim.start());

    const Response response = get(sim, 0, profile, "/info");
    QCOMPARE(response.status, status);
    const QJsonDocument document = QJsonDocument::fromJson(response.body);
    QCOMPARE(document.isObject() ? u"object"_s : document.isArray() ? u"array"_s : u"none"_s, shape);
    if (fault == DeviceProfile::Http::Large) {
        QCOMPARE(response.body.size(), 2 * 1024 * 1024);
        QVERIFY(response.head.contains("Content-Length: 2097152"));
        QCOMPARE(document.object().value(u"macAddress").toString(), u"m"_s);
    }
}

void TestDeviceSim::silentDeviceNeverAnswers()
{
    DeviceProfile profile = device(u"mute"_s, u"127.0.4.81"_s, DeviceProfile::Kind::Info);
    profile.http = DeviceProfile::Http::Silent;
    DeviceSim sim({profile}, anyPorts());
    QVERIFY(sim.start());
    QTcpSocket socket;
    QVERIFY(openRequest(socket, sim, 0, profile, "/info"));
    QVERIFY(!socket.waitForReadyRead(1500));
    QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
}

void TestDeviceSim::slowDeviceAnswersLate()
{
    DeviceProfile profile = device(u"slow"_s, u"127.0.4.82"_s, DeviceProfile::Kind::Info);
    profile.http = DeviceProfile::Http::Slow;
    profile.httpSeconds = 1;
    DeviceSim sim({profile}, anyPorts());
    QVERIFY(sim.start());
    QElapsedTimer clock;
    clock.start();
    const Response response = get(sim, 0, profile, "/info");
    QVERIFY2(clock.elapsed() >= 900, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(response.status, 200);
    QVERIFY(QJsonDocument::fromJson(response.body).isObject());
}

void TestDeviceSim::trickleDeviceSendsOneByteAtATime()
{
    DeviceProfile profile = device(u"drip"_s, u"127.0.4.83"_s, DeviceProfile::Kind::Info);
    profile.http = DeviceProfile::Http::Trickle;
    DeviceSim sim({profile}, anyPorts());
    QVERIFY(sim.start());
    QTcpSocket socket;
    QVERIFY(openRequest(socket, sim, 0, profile, "/info"));

    QByteArray received;
    QElapsedTimer clock;
    clock.start();
    while (!received.contains("\r\n\r\n") && socket.waitForReadyRead(1000))
        received += socket.readAll();
    QVERIFY2(received.startsWith("HTTP/1.1 200 "), received.constData());
    QVERIFY(!received.contains("Content-Length"));
    // The head comes at once, well before the first body byte at 2 s.
    QVERIFY2(clock.elapsed() < 1900, qPrintable(QString::number(clock.elapsed())));

    // Bytes at about 2 and 4 seconds, never faster than one each 2 s: at most three by
    // the time the first has come and 4.5 s have passed, however late a loaded machine is.
    const auto bodyOf = [](const QByteArray &all) { return all.mid(all.indexOf("\r\n\r\n") + 4); };
    while ((clock.elapsed() < 4500 || bodyOf(received).isEmpty()) && clock.elapsed() < 15'000) {
        if (socket.waitForReadyRead(500))
            received += socket.readAll();
    }
    const QByteArray body = bodyOf(received);
    QVERIFY2(body.size() >= 1 && body.size() <= 1 + clock.elapsed() / 2000, body.constData());
    QVERIFY(body.startsWith('{'));
    QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
}

void TestDeviceSim::failedStartReleasesEverything()
{
    QTcpServer squatter;
    squatter.setProxy(QNetworkProxy::NoProxy);
    QVERIFY(squatter.listen(QHostAddress(u"127.0.4.92"_s)));
    DeviceProfile first = device(u"first"_s, u"127.0.4.91"_s, DeviceProfile::Kind::Info);
    first.httpPort = 0;
    DeviceProfile blocked = device(u"blocked"_s, u"127.0.4.92"_s, DeviceProfile::Kind::Info);
    blocked.httpPort = squatter.serverPort();

    DeviceSim sim({first, blocked}, anyPorts());
    QString error;
    QVERIFY(!sim.start(&error));
    QVERIFY2(error.startsWith(u"blocked (127.0.4.92): HTTP on port"_s), qPrintable(error));
    QVERIFY(!sim.isRunning());

    squatter.close();
    QVERIFY2(sim.start(&error), qPrintable(error));
    QCOMPARE(get(sim, 1, blocked, "/info").status, 200);
}

void TestDeviceSim::rangesAreSilentOrRefuse()
{
    const auto range = [](const char *first, const char *last, RangeProfile::Behaviour behaviour, quint16 port) {
        RangeProfile profile;
        profile.text = QString::fromLatin1(first);
        profile.first = QHostAddress(QString::fromLatin1(first)).toIPv4Address();
        profile.last = QHostAddress(QString::fromLatin1(last)).toIPv4Address();
        profile.behaviour = behaviour;
        profile.httpPort = port;
        return profile;
    };
    // A port free on the device's address, shared by the device and the range around it.
    quint16 port = 0;
    {
        QTcpServer probe;
        probe.setProxy(QNetworkProxy::NoProxy);
        QVERIFY(probe.listen(QHostAddress(u"127.0.5.3"_s)));
        port = probe.serverPort();
    }
    DeviceProfile inside = device(u"inside"_s, u"127.0.5.3"_s, DeviceProfile::Kind::Info);
    inside.httpPort = port;
    using B = RangeProfile::Behaviour;
    DeviceSim sim({inside},
                  {range("127.0.5.0", "127.0.5.7", B::Silent, port), range("127.0.5.16", "127.0.5.23", B::Refuse, 80),
                   range("127.0.5.32", "127.0.5.33", B::Silent, 0)},
                  anyPorts());
    QString error;
    QVERIFY2(sim.start(&error), qPrintable(error));
    QCOMPARE(sim.rangePort(0), port);
    QCOMPARE(sim.rangePort(1), quint16(0));
    QVERIFY(sim.rangePort(2) != 0);

    // Every address of the silent ranges but the device's accepts and keeps quiet; the
    // device answers as itself.
    QList<std::pair<QString, quint16>> silent;
    for (int host = 0; host < 8; ++host) {
        if (host != 3)
            silent.append({u"127.0.5.%1"_s.arg(host), port});
    }
    silent.append({u"127.0.5.32"_s, sim.rangePort(2)});
    silent.append({u"127.0.5.33"_s, sim.rangePort(2)});
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (const auto &[address, silentPort] : silent) {
        auto &socket = *sockets.emplace_back(std::make_unique<QTcpSocket>());
        socket.setProxy(QNetworkProxy::NoProxy);
        socket.connectToHost(QHostAddress(address), silentPort);
        QVERIFY2(socket.waitForConnected(2000), qPrintable(address));
        socket.write("GET /info HTTP/1.1\r\nHost: x\r\n\r\n");
        QVERIFY(socket.waitForBytesWritten(1000));
    }
    QCOMPARE(get(sim, 0, inside, "/info").status, 200);
    QTest::qSleep(1000);
    for (qsizetype i = 0; i < silent.size(); ++i) {
        QTcpSocket &socket = *sockets[std::size_t(i)];
        QVERIFY2(!socket.waitForReadyRead(0) && socket.bytesAvailable() == 0, qPrintable(silent[i].first));
        QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
    }
    QCOMPARE(sim.openConnections(), int(silent.size()));

    // Refusing addresses, and one just past a silent range, refuse at once (on a port that
    // was free for a whole address, so no wildcard listener holds it).
    for (const char *address : {"127.0.5.16", "127.0.5.23", "127.0.5.8"}) {
        QTcpSocket socket;
        socket.setProxy(QNetworkProxy::NoProxy);
        socket.connectToHost(QHostAddress(QString::fromLatin1(address)), port);
        QVERIFY2(!socket.waitForConnected(2000), address);
        QCOMPARE(socket.error(), QAbstractSocket::ConnectionRefusedError);
    }
}

QTEST_GUILESS_MAIN(TestDeviceSim)
#include "tst_devicesim.moc"
