#include "model/mainviewcontroller.h"
#include "probes/deviceinforecord.h"
#include "probes/httpclient.h"
#include "probes/xpicorecord.h"
#include "support/tableresolver.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

const QString address = u"10.0.0.7"_s;

} // namespace

// How replies become records: pure functions, no network.
class TestProbeRecords final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The model-name table is built by the controller.
        const MainViewController controller(loopbackBroadcast);
    }

    void uptimeText_data()
    {
        QTest::addColumn<QJsonValue>("uptime");
        QTest::addColumn<QString>("text");
        QTest::newRow("1 day 2 h 3 min 4 s") << QJsonValue(93784) << u"1d 02:03:04"_s;
        QTest::newRow("59 s") << QJsonValue(59) << u"0d 00:00:59"_s;
        QTest::newRow("3599 s") << QJsonValue(3599) << u"0d 00:59:59"_s;
        QTest::newRow("one day") << QJsonValue(86400) << u"1d 00:00:00"_s;
        QTest::newRow("zero") << QJsonValue(0) << u"0d 00:00:00"_s;
        QTest::newRow("absent") << QJsonValue(QJsonValue::Undefined) << u"0d 00:00:00"_s;
        QTest::newRow("negative keeps its sign") << QJsonValue(-61) << u"0d 00:-1:-1"_s;
        QTest::newRow("fraction cut off") << QJsonValue(3599.7) << u"0d 00:59:59"_s;
        QTest::newRow("negative fraction toward zero") << QJsonValue(-59.9) << u"0d 00:00:-59"_s;
        QTest::newRow("text") << QJsonValue(u"7200"_s) << u"0d 02:00:00"_s;
        QTest::newRow("text with tail") << QJsonValue(u" 61s"_s) << u"0d 00:01:01"_s;
        QTest::newRow("text without digits") << QJsonValue(u"up"_s) << u"0d 00:00:00"_s;
        QTest::newRow("true") << QJsonValue(true) << u"0d 00:00:01"_s;
        QTest::newRow("false") << QJsonValue(false) << u"0d 00:00:00"_s;
        QTest::newRow("object") << QJsonValue(QJsonObject{{u"s"_s, 5}}) << u"0d 00:00:00"_s;
        QTest::newRow("array") << QJsonValue(QJsonArray{5}) << u"0d 00:00:00"_s;
        QTest::newRow("null") << QJsonValue(QJsonValue::Null) << u"0d 00:00:00"_s;
        QTest::newRow("beyond 32 bits clamps") << QJsonValue(1e12) << u"24855d 03:14:07"_s;
        QTest::newRow("below 32 bits clamps") << QJsonValue(-1e12) << u"-24855d -3:-14:-8"_s;
        QTest::newRow("huge text clamps") << QJsonValue(u"99999999999999999999999"_s) << u"24855d 03:14:07"_s;
    }

    void uptimeText()
    {
        QFETCH(QJsonValue, uptime);
        QFETCH(QString, text);
        QCOMPARE(::uptimeText(uptime), text);
    }

    void deviceInfoRecordIsTheWholeReplyCompleted()
    {
        const QJsonObject reply{{u"hostname"_s, u"corva-hall"_s},
                                {u"serialNumber"_s, u"10391234567"_s},
                                {u"macAddress"_s, u"02:00:5e:10:00:11"_s},
                                {u"uptime"_s, 93784},
                                {u"tag"_s, u"2.4.1"_s},
                                {u"sha"_s, u"9f3c2e1"_s},
                                {u"ipAddress"_s, u"10.9.9.9"_s}, // the device's own idea is replaced
                                {u"redirectAddress"_s, u"elsewhere"_s},
                                {u"room"_s, QJsonObject{{u"floor"_s, 2}, {u"tags"_s, QJsonArray{u"a"_s}}}}};
        const std::optional<DeviceRecord> record = deviceInfoRecord(json(reply), address, u"corva-hall.lan"_s);
        QVERIFY(record);
        QJsonObject expected = reply;
        expected[u"ipAddress"_s] = address;
        expected[u"redirectAddress"_s] = u"corva-hall.lan"_s;
        expected[u"uptime"_s] = u"1d 02:03:04"_s;
        expected[u"deviceType"_s] = u"RT-41"_s;
        QCOMPARE(record->object(), expected);

        // Without a redirect address the reply's own is removed too.
        QVERIFY(!deviceInfoRecord(json(reply), address, std::nullopt)->value(DeviceKey::redirectAddress).isString());
    }

    void deviceType_data()
    {
        QTest::addColumn<QJsonObject>("reply");
        QTest::addColumn<QJsonValue>("deviceType"); // undefined: no key
        const QJsonValue none(QJsonValue::Undefined);
        QTest::newRow("known code") << QJsonObject{{u"serialNumber"_s, u"10601"_s}} << QJsonValue(u"HB-5E"_s);
        QTest::newRow("unknown code removes the reply's")
            << QJsonObject{{u"serialNumber"_s, u"12345678"_s}, {u"deviceType"_s, u"own"_s}} << none;
        QTest::newRow("four characters keep the reply's")
            << QJsonObject{{u"serialNumber"_s, u"1039"_s}, {u"deviceType"_s, u"own"_s}} << QJsonValue(u"own"_s);
        QTest::newRow("four characters, none given") << QJsonObject{{u"serialNumber"_s, u"1039"_s}} << none;
        QTest::newRow("no serial keeps the reply's")
            << QJsonObject{{u"deviceType"_s, u"own"_s}} << QJsonValue(u"own"_s);
        QTest::newRow("number as decimal text") << QJsonObject{{u"serialNumber"_s, 11330042}} << QJsonValue(u"RT-42I"_s);
        QTest::newRow("code must match whole")
            << QJsonObject{{u"serialNumber"_s, u"106x1"_s}, {u"deviceType"_s, u"own"_s}} << none;
    }

    void deviceType()
    {
        QFETCH(QJsonObject, reply);
        QFETCH(QJsonValue, deviceType);
        QCOMPARE(deviceInfoRecord(json(reply), address, address)->value(DeviceKey::deviceType), deviceType);
    }

    void bodiesThatAreNoObject_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("HTML") << QByteArray("<html><body>not JSON</body></html>");
        QTest::newRow("array") << QByteArray(R"([{"macAddress":"m"}])");
        QTest::newRow("number") << QByteArray("57");
        QTest::newRow("cut short") << QByteArray(R"({"macAddress":"m")");
    }

    void bodiesThatAreNoObject()
    {
        QFETCH(QByteArray, body);
        QVERIFY(!deviceInfoRecord(body, address, address));
        QVERIFY(!xpicoRecord(body, address, address));
    }

    void gatewayRecords_data()
    {
        QTest::addColumn<QJsonObject>("reply");
        QTest::addColumn<QJsonObject>("record"); // besides ipAddress and redirectAddress
        const QJsonObject mgt{{u"name"_s, u"gw-mgt"_s},
                              {u"serialNo"_s, 5700123},
                              {u"uptime"_s, 7200},
                              {u"gatewayVer"_s, u"1.8.2"_s}};
        const QJsonObject reply{{u"name"_s, u"gw-top"_s},
                                {u"uptime"_s, 300},
                                {u"macAddress"_s, u"02:00:5e:20:00:21"_s},
                                {u"macaddr"_s, u"02:00:5e:20:00:22"_s},
                                {u"mgt"_s, mgt},
                                {u"extra"_s, u"not kept"_s}};
        const auto with = [&](const QJsonValue &devtype) {
            QJsonObject object = reply;
            object[u"devtype"_s] = devtype;
            return object;
        };
        const QJsonObject hb5{{u"hostname"_s, u"gw-mgt"_s},
                              {u"serialNumber"_s, 5700123}, // as it came
                              {u"uptime"_s, 7200},
                              {u"tag"_s, u"1.8.2"_s},
                              {u"macAddress"_s, u"02:00:5e:20:00:21"_s},
                              {u"deviceType"_s, u"HB-5"_s}};
        const QJsonObject hb1{{u"hostname"_s, u"gw-top"_s},
                              {u"serialNumber"_s, u"5700123"_s}, // as text
                              {u"uptime"_s, 300},
                              {u"tag"_s, u"1.8.2"_s},
                              {u"macAddress"_s, u"02:00:5e:20:00:22"_s},
                              {u"deviceType"_s, u"HB-1"_s}};
        QTest::newRow("57") << with(57) << hb5;
        QTest::newRow("57.0") << with(57.0) << hb5;
        QTest::newRow("text 57") << with(u"57"_s) << hb1;
        QTest::newRow("other number") << with(12) << hb1;
        QTest::newRow("no devtype") << with(QJsonValue::Undefined) << hb1;
        QTest::newRow("57 without mgt")
            << QJsonObject{{u"devtype"_s, 57}, {u"macAddress"_s, u"m"_s}, {u"name"_s, u"top"_s}}
            << QJsonObject{{u"macAddress"_s, u"m"_s}, {u"deviceType"_s, u"HB-5"_s}};
        QTest::newRow("other without mgt")
            << QJsonObject{{u"macaddr"_s, u"m"_s}, {u"name"_s, u"top"_s}, {u"uptime"_s, u"5 min"_s}}
            << QJsonObject{{u"macAddress"_s, u"m"_s}, {u"hostname"_s, u"top"_s}, {u"uptime"_s, u"5 min"_s},
                           {u"deviceType"_s, u"HB-1"_s}};
        QTest::newRow("mgt that is no object")
            << QJsonObject{{u"devtype"_s, 57}, {u"mgt"_s, u"x"_s}} << QJsonObject{{u"deviceType"_s, u"HB-5"_s}};
        QTest::newRow("text serial stays") << QJsonObject{{u"mgt"_s, QJsonObject{{u"serialNo"_s, u"A-7"_s}}}}
                                           << QJsonObject{{u"serialNumber"_s, u"A-7"_s}, {u"deviceType"_s, u"HB-1"_s}};
        QTest::newRow("no MAC under its case's key")
            << QJsonObject{{u"devtype"_s, 12}, {u"macAddress"_s, u"m"_s}} << QJsonObject{{u"deviceType"_s, u"HB-1"_s}};
    }

    void gatewayRecords()
    {
        QFETCH(QJsonObject, reply);
        QFETCH(QJsonObject, record);
        QJsonObject expected = record;
        expected[u"ipAddress"_s] = address;
        expected[u"redirectAddress"_s] = u"gw.lan"_s;
        QCOMPARE(xpicoRecord(json(reply), address, u"gw.lan"_s)->object(), expected);
        QVERIFY(xpicoRecord(json(reply), address, u"gw.lan"_s)->object().size() <= 8);
    }

    // A probe goes only to the host its address text names, with its port if any.
    void urlsAreTakenOnlyAsWritten_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("taken");
        QTest::newRow("dotted quad") << u"10.0.0.7"_s << true;
        QTest::newRow("with a port") << u"127.0.0.5:8080"_s << true;
        QTest::newRow("host name") << u"corva-hall"_s << true;
        QTest::newRow("host name, upper case") << u"Corva-Hall"_s << true;
        QTest::newRow("trailing blank") << u"10.0.0.1 "_s << false;
        QTest::newRow("leading zero") << u"010.0.0.1"_s << false;
        QTest::newRow("octet above 255") << u"192.168.1.260"_s << false;
        QTest::newRow("three parts") << u"10.0.1"_s << false;
        QTest::newRow("hexadecimal") << u"0x7f.0.0.1"_s << false;
        QTest::newRow("user part") << u"192.168.1.7@localhost"_s << false;
        QTest::newRow("user and port") << u"10.0.0.1:80@localhost:8080"_s << false;
        QTest::newRow("a path before /info") << u"10.0.0.1/x"_s << false;
        QTest::newRow("a query") << u"10.0.0.1?"_s << false;
        QTest::newRow("non-ASCII host") << u"gerät"_s << false;
        QTest::newRow("empty host") << QString() << false;
    }

    void urlsAreTakenOnlyAsWritten()
    {
        QFETCH(QString, address);
        QFETCH(bool, taken);
        QCOMPARE(probeUrl(address, u"/info"_s).has_value(), taken);
    }
};

QTEST_GUILESS_MAIN(TestProbeRecords)
#include "tst_proberecords.moc"
