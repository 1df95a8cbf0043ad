#include "tools/devicesim/devicefile.h"

#include <QTest>

class TestDeviceFile final : public QObject {
    Q_OBJECT

private slots:
    void rejects_data();
    void rejects();
    void readsAMinimalDevice();
    void readsRanges_data();
    void readsRanges();
    void rejectsRanges_data();
    void rejectsRanges();
    void readsTheShippedFiles_data();
    void readsTheShippedFiles();
};

using namespace Qt::StringLiterals;

namespace {

QByteArray oneDevice(const QByteArray &members)
{
    return R"({"devices": [{"name": "d", "address": "127.0.0.5", )" + members + "}]}";
}

} // namespace

void TestDeviceFile::rejects_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("expected");

    QTest::newRow("not JSON") << QByteArray("{devices") << u"not JSON at offset"_s;
    QTest::newRow("no devices") << QByteArray("{}") << u"\"devices\" array"_s;
    QTest::newRow("empty") << QByteArray(R"({"devices": []})") << u"\"devices\" is empty"_s;
    QTest::newRow("unknown top member") << QByteArray(R"({"devices": [], "extra": 1})") << u"\"extra\" at the top"_s;
    QTest::newRow("typo in a member") << oneDevice(R"("kind": "info", "adress": "1.2.3.4")")
                                      << u"device 1 (d): unknown member \"adress\""_s;
    QTest::newRow("name") << QByteArray(R"({"devices": [{"name": "a b", "address": "127.0.0.5", "kind": "info"}]})")
                          << u"\"name\" must be a host name"_s;
    for (const char *address : {"127.0.0.300", "::1", "0.0.0.0", "224.0.0.1", "255.255.255.255", "127.1"}) {
        QTest::addRow("address %s", address)
            << (R"({"devices": [{"name": "d", "kind": "info", "address": ")" + QByteArray(address) + "\"}]}")
            << u"\"address\" must be a dotted-quad IPv4 address"_s;
    }
    QTest::newRow("kind") << oneDevice(R"("kind": "router")") << u"\"kind\" must be one of: info, gateway, info-404"_s;
    QTest::newRow("gateway without data") << oneDevice(R"("kind": "gateway")") << u"\"data\" must be a JSON object"_s;
    QTest::newRow("info with data") << oneDevice(R"("kind": "info", "data": {})") << u"\"data\" does not belong"_s;
    QTest::newRow("info not an object") << oneDevice(R"("kind": "info", "info": [])") << u"\"info\" must be a JSON object"_s;
    QTest::newRow("port") << oneDevice(R"("kind": "info", "httpPort": 70000)") << u"\"httpPort\" must be"_s;
    QTest::newRow("udp fault") << oneDevice(R"("kind": "info", "udp": "sometimes")") << u"\"udp\" must be one of"_s;
    QTest::newRow("other case on a gateway") << oneDevice(R"("kind": "gateway", "data": {}, "udp": "other-case")")
                                             << u"info devices only"_s;
    QTest::newRow("http fault") << oneDevice(R"("kind": "info", "http": "flaky")") << u"\"http\" must be one of"_s;
    QTest::newRow("slow without seconds") << oneDevice(R"("kind": "info", "http": "slow")") << u"\"httpSeconds\" goes with"_s;
    QTest::newRow("seconds without slow") << oneDevice(R"("kind": "info", "httpSeconds": 2)") << u"\"httpSeconds\" goes with"_s;
    QTest::newRow("fractional seconds") << oneDevice(R"("kind": "info", "http": "slow", "httpSeconds": 1.5)")
                                        << u"\"httpSeconds\" must be a whole number"_s;
    QTest::newRow("no size") << oneDevice(R"("kind": "info", "http": "large", "bodyMiB": 0)") << u"\"bodyMiB\" must be"_s;
    QTest::newRow("two on one port")
        << QByteArray(R"({"devices": [{"name": "a", "address": "127.0.0.5", "kind": "info"},
                                       {"name": "b", "address": "127.0.0.5", "kind": "info"}]})")
        << u"device 2 (b): another device serves HTTP on 127.0.0.5:80"_s;
}

void TestDeviceFile::rejects()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, expected);
    QString error;
    QVERIFY(!parseDeviceFile(json, &error));
    QVERIFY2(error.contains(expected), qPrintable(error));
}

void TestDeviceFile::readsAMinimalDevice()
{
    const auto file = parseDeviceFile(oneDevice(R"("kind": "info")"), nullptr);
    QVERIFY(file);
    QCOMPARE(file->devices.size(), 1);
    QVERIFY(file->ranges.isEmpty());
    const DeviceProfile &device = file->devices.first();
    QCOMPARE(device.httpPort, 80);
    QCOMPARE(device.udp, DeviceProfile::Udp::Reply);
    QCOMPARE(device.http, DeviceProfile::Http::Normal);
    QCOMPARE(device.document.value(u"hostname").toString(), u"d"_s);
}

namespace {

QByteArray oneRange(const QByteArray &members)
{
    return R"({"ranges": [{)" + members + "}]}";
}

quint32 ip(const char *text)
{
    return QHostAddress(QString::fromLatin1(text)).toIPv4Address();
}

} // namespace

void TestDeviceFile::readsRanges_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<quint32>("first");
    QTest::addColumn<quint32>("last");
    QTest::addColumn<RangeProfile::Behaviour>("behaviour");
    QTest::addColumn<int>("port");
    using B = RangeProfile::Behaviour;
    QTest::newRow("a /16 of refusals, no devices")
        << oneRange(R"("range": "198.18.0.0/16", "behaviour": "refuse")") << ip("198.18.0.0") << ip("198.18.255.255")
        << B::Refuse << 80;
    QTest::newRow("a block named by an address inside it")
        << oneRange(R"("range": "127.0.9.77/28", "behaviour": "silent")") << ip("127.0.9.64") << ip("127.0.9.79")
        << B::Silent << 80;
    QTest::newRow("a dash range with its own port")
        << oneRange(R"("range": "127.0.9.10-20", "behaviour": "silent", "httpPort": 8080)") << ip("127.0.9.10")
        << ip("127.0.9.20") << B::Silent << 8080;
    QTest::newRow("one address") << oneRange(R"("range": "127.0.9.5", "behaviour": "refuse")") << ip("127.0.9.5")
                                 << ip("127.0.9.5") << B::Refuse << 80;
    QTest::newRow("/32") << oneRange(R"("range": "127.0.9.5/32", "behaviour": "refuse")") << ip("127.0.9.5")
                         << ip("127.0.9.5") << B::Refuse << 80;
    // Devices may sit inside a range; they are served as themselves.
    QTest::newRow("beside devices")
        << QByteArray(R"({"devices": [{"name": "d", "address": "127.0.9.3", "kind": "info"}],
                          "ranges": [{"range": "127.0.9.0/24", "behaviour": "silent"}]})")
        << ip("127.0.9.0") << ip("127.0.9.255") << B::Silent << 80;
}

void TestDeviceFile::readsRanges()
{
    QFETCH(QByteArray, json);
    QFETCH(quint32, first);
    QFETCH(quint32, last);
    QFETCH(RangeProfile::Behaviour, behaviour);
    QFETCH(int, port);
    QString error;
    const auto file = parseDeviceFile(json, &error);
    QVERIFY2(file, qPrintable(error));
    QCOMPARE(file->ranges.size(), 1);
    const RangeProfile &range = file->ranges.first();
    QCOMPARE(range.first, first);
    QCOMPARE(range.last, last);
    QCOMPARE(range.behaviour, behaviour);
    QCOMPARE(range.httpPort, port);
}

void TestDeviceFile::rejectsRanges_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty list") << QByteArray(R"({"ranges": []})") << u"\"ranges\" must be a non-empty array"_s;
    QTest::newRow("not a list") << QByteArray(R"({"ranges": {}})") << u"\"ranges\" must be a non-empty array"_s;
    QTest::newRow("neither devices nor ranges") << QByteArray(R"({"comment": "x"})") << u"\"devices\" array"_s;
    QTest::newRow("unknown member") << oneRange(R"("range": "127.0.0.0/24", "behaviour": "silent", "port": 1)")
                                    << u"range 1 (127.0.0.0/24): unknown member \"port\""_s;
    QTest::newRow("no behaviour") << oneRange(R"("range": "127.0.0.0/24")") << u"\"behaviour\" must be one of: silent, refuse"_s;
    QTest::newRow("port on a refusing range") << oneRange(R"("range": "127.0.0.0/24", "behaviour": "refuse", "httpPort": 80)")
                                              << u"\"httpPort\" goes with"_s;
    for (const char *text : {"127.0.0.0/15", "127.0.0.0/33", "127.0.0.9-3", "127.0.0.1-256", "127.0.0.0/", "127.0.1/24",
                             "127.0.0.1 - 5", "::1/120", "127.0.0.0/024", ""}) {
        QTest::addRow("range \"%s\"", text) << oneRange(R"("behaviour": "silent", "range": ")" + QByteArray(text) + "\"")
                                            << u"\"range\" must be A.B.C.D/N"_s;
    }
    QTest::newRow("broadcast inside") << oneRange(R"("range": "255.255.0.0/16", "behaviour": "refuse")")
                                      << u"must not take in"_s;
    QTest::newRow("multicast") << oneRange(R"("range": "224.0.0.0/24", "behaviour": "refuse")") << u"must not take in"_s;
    QTest::newRow("overlap")
        << QByteArray(R"({"ranges": [{"range": "127.0.0.0/24", "behaviour": "silent"},
                                     {"range": "127.0.0.200-210", "behaviour": "refuse"}]})")
        << u"range 2 (127.0.0.200-210): overlaps range 127.0.0.0/24"_s;
}

void TestDeviceFile::rejectsRanges()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, expected);
    QString error;
    QVERIFY(!parseDeviceFile(json, &error));
    QVERIFY2(error.contains(expected), qPrintable(error));
}

void TestDeviceFile::readsTheShippedFiles_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("example") << QStringLiteral(DF_SOURCE_DIR "/tools/devicesim/example.json");
    QTest::newRow("e2e basic") << QStringLiteral(DF_SOURCE_DIR "/tests/e2e/devices-basic.json");
}

void TestDeviceFile::readsTheShippedFiles()
{
    QFETCH(QString, path);
    QString error;
    const auto file = loadDeviceFile(path, &error);
    QVERIFY2(file, qPrintable(error));
    QVERIFY(!file->devices.isEmpty() || !file->ranges.isEmpty());
}

QTEST_GUILESS_MAIN(TestDeviceFile)
#include "tst_devicefile.moc"
