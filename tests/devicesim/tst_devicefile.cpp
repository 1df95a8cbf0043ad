#include "tools/devicesim/devicefile.h"

#include <QTest>

// The simulator must refuse a bad device file with a message that names the fault, never
// start on half of it.
class TestDeviceFile final : public QObject {
    Q_OBJECT

private slots:
    void rejects_data();
    void rejects();
};

using namespace Qt::StringLiterals;

namespace {

QByteArray oneDevice(const QByteArray &members)
{
    return R"({"devices": [{"name": "d", "address": "127.0.0.5", )" + members + "}]}";
}

QByteArray oneRange(const QByteArray &members)
{
    return R"({"ranges": [{)" + members + "}]}";
}

} // namespace

void TestDeviceFile::rejects_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("expected");

    QTest::newRow("not JSON") << QByteArray("{devices") << u"not JSON at offset"_s;
    QTest::newRow("typo in a member") << oneDevice(R"("kind": "info", "adress": "1.2.3.4")")
                                      << u"device 1 (d): unknown member \"adress\""_s;
    for (const char *address : {"127.0.0.300", "::1", "224.0.0.1", "255.255.255.255", "127.1"}) {
        QTest::addRow("address %s", address)
            << (R"({"devices": [{"name": "d", "kind": "info", "address": ")" + QByteArray(address) + "\"}]}")
            << u"\"address\" must be a dotted-quad IPv4 address"_s;
    }
    QTest::newRow("kind") << oneDevice(R"("kind": "router")") << u"\"kind\" must be one of: info, gateway, info-404"_s;
    QTest::newRow("info with data") << oneDevice(R"("kind": "info", "data": {})") << u"\"data\" does not belong"_s;
    QTest::newRow("slow without seconds") << oneDevice(R"("kind": "info", "http": "slow")")
                                          << u"\"httpSeconds\" goes with"_s;
    QTest::newRow("two on one port")
        << QByteArray(R"({"devices": [{"name": "a", "address": "127.0.0.5", "kind": "info"},
                                       {"name": "b", "address": "127.0.0.5", "kind": "info"}]})")
        << u"device 2 (b): another device serves HTTP on 127.0.0.5:80"_s;

    QTest::newRow("unknown range member") << oneRange(R"("range": "127.0.0.0/24", "behaviour": "silent", "port": 1)")
                                          << u"range 1 (127.0.0.0/24): unknown member \"port\""_s;
    for (const char *text : {"127.0.0.0/15", "127.0.0.0/33", "127.0.0.9-3", "127.0.0.1-256", "127.0.1/24", ""}) {
        QTest::addRow("range \"%s\"", text) << oneRange(R"("behaviour": "silent", "range": ")" + QByteArray(text) + "\"")
                                            << u"\"range\" must be A.B.C.D/N"_s;
    }
    QTest::newRow("broadcast inside") << oneRange(R"("range": "255.255.0.0/16", "behaviour": "refuse")")
                                      << u"must not take in"_s;
    QTest::newRow("overlap")
        << QByteArray(R"({"ranges": [{"range": "127.0.0.0/24", "behaviour": "silent"},
                                     {"range": "127.0.0.200-210", "behaviour": "refuse"}]})")
        << u"range 2 (127.0.0.200-210): overlaps range 127.0.0.0/24"_s;
}

void TestDeviceFile::rejects()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, expected);
    QString error;
    QVERIFY(!parseDeviceFile(json, &error));
    QVERIFY2(error.contains(expected), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestDeviceFile)
#include "tst_devicefile.moc"
