#include "model/deviceexport.h"
#include "support/devices.h"
#include "support/fakecontrols.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;

class TestDeviceList final : public QObject {
    Q_OBJECT

private slots:
    void init() { m_ui = std::make_unique<FakeControls>(); } // no view: no discovery run starts

    void searchRule_data()
    {
        QTest::addColumn<QJsonObject>("record");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<bool>("passes");

        const QJsonObject dev{{u"hostname"_s, u"LOBBY-Display"_s},
                              {u"serialNumber"_s, u"1039A0042"_s},
                              {u"macAddress"_s, u"00:1A:2B:3C:4D:5E"_s}};
        QTest::newRow("hostname, other case") << dev << u"lobby"_s << true;
        QTest::newRow("serial, other case") << dev << u"a004"_s << true;
        QTest::newRow("mac parts joined, other case") << dev << u"1a2b"_s << true;
        QTest::newRow("mac parts with colon") << dev << u"1a:2b"_s << false;
        QTest::newRow("no wildcards") << dev << u"lob*"_s << false;
        QTest::newRow("no trimming") << dev << u" lobby"_s << false;
        QTest::newRow("colon text in hostname") << QJsonObject{{u"hostname"_s, u"rack 1a:2b"_s}} << u"1a:2b"_s << true;
        QTest::newRow("missing values contain nothing") << QJsonObject{} << u"a"_s << false;
        QTest::newRow("number serial as decimal text") << QJsonObject{{u"serialNumber"_s, 1039004}} << u"3900"_s << true;
    }

    void searchRule()
    {
        QFETCH(QJsonObject, record);
        QFETCH(QString, filter);
        QTEST(passesSearch(DeviceRecord(record), filter), "passes");
    }

    // Rows in the order of adding; a sort puts a missing value first, then the addresses by
    // value, and keeps later additions last; a search forgets the sort and filters later
    // additions too.
    void sortSearchAndAdd()
    {
        m_ui->controller->addDevice(record(QJsonObject{{u"hostname"_s, u"b"_s}, {u"ipAddress"_s, u"10.0.0.10"_s}}));
        m_ui->controller->addDevice(record(QJsonObject{{u"hostname"_s, u"a"_s}, {u"ipAddress"_s, u"10.0.0.9"_s}}));
        m_ui->controller->addDevice(record(QJsonObject{{u"hostname"_s, u"c"_s}}));
        m_ui->table->descriptors = {{u"ipAddress"_s, true}};
        m_ui->controller->tableViewSortDescriptorsDidChange();
        QCOMPARE(hostnames(m_ui->controller->filteredDevices()), (QStringList{u"c"_s, u"a"_s, u"b"_s}));
        m_ui->controller->addDevice(record(u"0-new"_s, u"x"_s));
        QCOMPARE(m_ui->controller->filteredDevices().last()->text(DeviceKey::hostname), u"0-new"_s);

        m_ui->controller->search(u"A"_s);
        m_ui->controller->addDevice(record(u"a-2"_s, u"y"_s));
        QCOMPARE(hostnames(m_ui->controller->filteredDevices()), (QStringList{u"a"_s, u"a-2"_s}));
        QCOMPARE(m_ui->table->reloads, 2); // adding leaves reloading to the run
        m_ui->controller->search(QString());
        QCOMPARE(hostnames(m_ui->controller->filteredDevices()), (QStringList{u"b"_s, u"a"_s, u"c"_s, u"0-new"_s, u"a-2"_s}));
        QCOMPARE(m_ui->table->reloads, 3);
    }

    // Texts compare naturally, numbers by value and before texts, a missing value first.
    void order_data()
    {
        QTest::addColumn<QJsonValue>("a");
        QTest::addColumn<QJsonValue>("b");
        QTest::addColumn<int>("order");
        QTest::newRow("digit runs by value") << QJsonValue(u"10.0.0.9"_s) << QJsonValue(u"10.0.0.10"_s) << -1;
        QTest::newRow("case ignored") << QJsonValue(u"Lobby"_s) << QJsonValue(u"lobby"_s) << 0;
        QTest::newRow("prefix first") << QJsonValue(u"dev"_s) << QJsonValue(u"dev1"_s) << -1;
        QTest::newRow("long numbers") << QJsonValue(u"99999999999999999999"_s) << QJsonValue(u"100000000000000000000"_s)
                                      << -1;
        QTest::newRow("numbers") << QJsonValue(2.5) << QJsonValue(-3) << 1;
        QTest::newRow("missing first") << QJsonValue(QJsonValue::Undefined) << QJsonValue(u""_s) << -1;
        QTest::newRow("missing and null") << QJsonValue(QJsonValue::Undefined) << QJsonValue(QJsonValue::Null) << 0;
        QTest::newRow("numbers before texts") << QJsonValue(1.5) << QJsonValue(u"1.10"_s) << -1;
    }

    void order()
    {
        QFETCH(QJsonValue, a);
        QFETCH(QJsonValue, b);
        QFETCH(int, order);
        const auto sign = [](int n) { return (n > 0) - (n < 0); };
        QCOMPARE(sign(compareValues(a, b)), order);
        QCOMPARE(sign(compareValues(b, a)), -order);
    }

    void pruneKeepsFoundDevicesInOrder()
    {
        const Device a = record(u"a"_s, u"01"_s), b = record(u"b"_s, u"02"_s), c = record(u"c"_s, u"03"_s);
        const Device d = record(u"d"_s, u"04"_s), anonymous = record(u"e"_s, QString());
        for (const Device &x : {a, b, c, d, anonymous})
            m_ui->controller->addDevice(x);
        m_ui->table->descriptors = {{u"hostname"_s, false}};
        m_ui->controller->tableViewSortDescriptorsDidChange();
        m_ui->controller->search(u"b"_s);

        // This run found c (twice), a, and a record with b's name but no address.
        m_ui->controller->setVudiduDevices({c, record(u"c again"_s, u"03"_s), record(u"b"_s, QString())});
        m_ui->controller->setXpicoDevices({record(u"a"_s, u"01"_s), anonymous});
        m_ui->table->reloads = 0;
        m_ui->controller->pruneToFoundDevices();

        QCOMPARE(m_ui->controller->devices(), (DeviceList{a, c}));
        QCOMPARE(m_ui->controller->filteredDevices(), DeviceList{});
        QCOMPARE(m_ui->table->reloads, 1);
        m_ui->controller->search(QString());
        QCOMPARE(m_ui->controller->filteredDevices(), (DeviceList{a, c}));

        // A table that is gone is no longer reloaded.
        m_ui->table.reset();
        m_ui->controller->tableViewSortDescriptorsDidChange();
        m_ui->controller->pruneToFoundDevices();
        QCOMPARE(m_ui->controller->devices(), (DeviceList{a, c}));
    }

    // Device texts go into CSV fields as a spreadsheet reads them back: whole, and as text.
    void csvField_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("field");
        QTest::newRow("comma") << u"hall, east"_s << u"\"hall, east\""_s;
        QTest::newRow("quote") << u"5\" rack"_s << u"\"5\"\" rack\""_s;
        QTest::newRow("line break") << u"a\nb"_s << u"\"a\nb\""_s;
        QTest::newRow("formula") << u"=1+2"_s << u"'=1+2"_s;
    }

    void csvField()
    {
        QFETCH(QString, value);
        QTEST(::csvField(value), "field");
    }

    // The user's label wins over a "label" member a device sends, in every output; without one,
    // the device's member is no label at all.
    void theUsersLabelWins_data()
    {
        QTest::addColumn<QString>("label");
        QTest::newRow("a label") << u"Roof"_s;
        QTest::newRow("no label") << QString();
    }

    void theUsersLabelWins()
    {
        QFETCH(QString, label);
        const DeviceList devices{record(QJsonObject{{u"hostname"_s, u"gw"_s}, {u"label"_s, u"Sent"_s}})};
        const LabelOf labelOf = [&label](const DeviceRecord &) { return label; };
        const QJsonObject printed = QJsonDocument::fromJson(devicesAsJson(devices, labelOf)).array().at(0).toObject();
        QCOMPARE(printed.value(u"label"), label.isEmpty() ? QJsonValue(QJsonValue::Undefined) : QJsonValue(label));
        const QString csv = QString::fromUtf8(devicesAsCsv(devices, labelOf));
        QCOMPARE(csv.section(u"\r\n"_s, 0, 0).section(u',', -1) + u' ' + csv.section(u"\r\n"_s, 1, 1).section(u',', -1), u"Label "_s + label);
        QCOMPARE(devicesAsTextTable(devices, labelOf).section(u'\n', 1, 1).section(u' ', -1), label.isEmpty() ? u"gw"_s : label);
        QCOMPARE(devicesAsKeyValues(devices, labelOf).contains(u"Sent"), false);
    }

private:
    std::unique_ptr<FakeControls> m_ui;
};

QTEST_GUILESS_MAIN(TestDeviceList)
#include "tst_devicelist.moc"
