#include "tools/devicesim/devicefile.h"

#include <QTest>

class TestDeviceFile final : public QObject {
    Q_OBJECT

private slots:
    void rejects_data();
    void rejects();
    void readsAMinimalDevice();
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
    const auto devices = parseDeviceFile(oneDevice(R"("kind": "info")"), nullptr);
    QVERIFY(devices);
    QCOMPARE(devices->size(), 1);
    const DeviceProfile &device = devices->first();
    QCOMPARE(device.httpPort, 80);
    QCOMPARE(device.udp, DeviceProfile::Udp::Reply);
    QCOMPARE(device.http, DeviceProfile::Http::Normal);
    QCOMPARE(device.document.value(u"hostname").toString(), u"d"_s);
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
    const auto devices = loadDeviceFile(path, &error);
    QVERIFY2(devices, qPrintable(error));
    QVERIFY(!devices->isEmpty());
}

QTEST_GUILESS_MAIN(TestDeviceFile)
#include "tst_devicefile.moc"
