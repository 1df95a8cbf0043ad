#include "model/mainviewcontroller.h"
#include "support/fakecontrols.h"
#include "support/tableresolver.h"

#include <QJsonArray>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

Device device(const QJsonObject &object)
{
    return std::make_shared<const DeviceRecord>(object);
}

Device device(const QString &hostname, const QString &mac, const QString &serial = {})
{
    QJsonObject object{{QStringLiteral("hostname"), hostname}};
    if (!mac.isNull())
        object.insert(QStringLiteral("macAddress"), mac);
    if (!serial.isNull())
        object.insert(QStringLiteral("serialNumber"), serial);
    return device(object);
}

QStringList hostnames(const DeviceList &devices)
{
    QStringList names;
    for (const Device &d : devices)
        names.append(d->text(DeviceKey::hostname));
    return names;
}

} // namespace

class TestDeviceList final : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        // The view is never loaded, so no discovery run starts.
        m_controller = std::make_shared<MainViewController>(loopbackBroadcast, std::make_shared<TableResolver>());
        m_table = std::make_shared<FakeTableView>();
        m_controller->setTableView(m_table);
    }

    void searchRule_data()
    {
        QTest::addColumn<QJsonObject>("record");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<bool>("passes");

        const QJsonObject dev{{QStringLiteral("hostname"), QStringLiteral("LOBBY-Display")},
                              {QStringLiteral("serialNumber"), QStringLiteral("1039A0042")},
                              {QStringLiteral("macAddress"), QStringLiteral("00:1A:2B:3C:4D:5E")}};
        QTest::newRow("empty filter") << dev << QString() << true;
        QTest::newRow("hostname, other case") << dev << QStringLiteral("lobby") << true;
        QTest::newRow("serial") << dev << QStringLiteral("a004") << true;
        QTest::newRow("mac parts joined, other case") << dev << QStringLiteral("1a2b") << true;
        QTest::newRow("mac parts with colon") << dev << QStringLiteral("1a:2b") << false;
        QTest::newRow("no match") << dev << QStringLiteral("kitchen") << false;
        QTest::newRow("no wildcards") << dev << QStringLiteral("lob*") << false;
        QTest::newRow("no trimming") << dev << QStringLiteral(" lobby") << false;
        QTest::newRow("colon text in hostname")
            << QJsonObject{{QStringLiteral("hostname"), QStringLiteral("rack 1a:2b")}} << QStringLiteral("1a:2b")
            << true;
        QTest::newRow("missing values contain nothing") << QJsonObject{} << QStringLiteral("a") << false;
        QTest::newRow("number serial as decimal text")
            << QJsonObject{{QStringLiteral("serialNumber"), 1039004}} << QStringLiteral("3900") << true;
    }

    void searchRule()
    {
        QFETCH(QJsonObject, record);
        QFETCH(QString, filter);
        QFETCH(bool, passes);
        QCOMPARE(passesSearch(DeviceRecord(record), filter), passes);
    }

    void emptyFilterShowsAllInOrderOfAdding()
    {
        QCOMPARE(m_controller->numberOfRowsInTableView(), 0);
        for (const char *name : {"c", "a", "b"})
            m_controller->addDevice(device(QString::fromLatin1(name), QString::fromLatin1(name)));
        QCOMPARE(hostnames(m_controller->filteredDevices()), (QStringList{u"c"_s, u"a"_s, u"b"_s}));
        QCOMPARE(m_controller->numberOfRowsInTableView(), 3);
        QCOMPARE(m_table->reloads, 0); // adding leaves reloading to the run
    }

    void addWhileFilteredThenClearFilter()
    {
        m_controller->addDevice(device(u"kitchen"_s, u"01"_s));
        m_controller->search(u"KIT"_s);
        m_controller->addDevice(device(u"garage"_s, u"02"_s));
        m_controller->addDevice(device(u"kitchen-2"_s, u"03"_s));
        QCOMPARE(hostnames(m_controller->filteredDevices()), (QStringList{u"kitchen"_s, u"kitchen-2"_s}));
        QCOMPARE(m_controller->devices().size(), 3);

        m_controller->search(u"zzz"_s);
        QCOMPARE(m_controller->numberOfRowsInTableView(), 0);

        m_controller->search(QString());
        QCOMPARE(hostnames(m_controller->filteredDevices()),
                 (QStringList{u"kitchen"_s, u"garage"_s, u"kitchen-2"_s}));
        QCOMPARE(m_table->reloads, 3);
    }

    void sortThenSearchThenAdd()
    {
        m_controller->addDevice(device(QJsonObject{{u"hostname"_s, u"b"_s}, {u"ipAddress"_s, u"10.0.0.10"_s}}));
        m_controller->addDevice(device(QJsonObject{{u"hostname"_s, u"a"_s}, {u"ipAddress"_s, u"10.0.0.9"_s}}));
        m_controller->addDevice(device(QJsonObject{{u"hostname"_s, u"c"_s}}));
        m_table->descriptors = {{u"ipAddress"_s, true}};
        m_controller->tableViewSortDescriptorsDidChange();
        // A missing value first, then the addresses by value.
        QCOMPARE(hostnames(m_controller->filteredDevices()), (QStringList{u"c"_s, u"a"_s, u"b"_s}));
        QCOMPARE(hostnames(m_controller->devices()), (QStringList{u"b"_s, u"a"_s, u"c"_s}));

        m_controller->addDevice(device(u"0-new"_s, u"x"_s));
        QCOMPARE(m_controller->filteredDevices().last()->text(DeviceKey::hostname), u"0-new"_s);

        // A search forgets the sort; a new click sorts again.
        m_controller->search(QString());
        QCOMPARE(hostnames(m_controller->filteredDevices()), (QStringList{u"b"_s, u"a"_s, u"c"_s, u"0-new"_s}));
        m_table->descriptors = {{u"ipAddress"_s, false}};
        m_controller->tableViewSortDescriptorsDidChange();
        QCOMPARE(hostnames(m_controller->filteredDevices()), (QStringList{u"b"_s, u"a"_s, u"c"_s, u"0-new"_s}));
        QCOMPARE(m_table->reloads, 3);
    }

    void sortBySeveralKeys()
    {
        const auto row = [](const char *type, QJsonValue uptime, const char *name) {
            return device(QJsonObject{{u"deviceType"_s, QString::fromLatin1(type)},
                                      {u"uptime"_s, uptime},
                                      {u"hostname"_s, QString::fromLatin1(name)}});
        };
        m_controller->addDevice(row("rt-41", 90, "1"));
        m_controller->addDevice(row("HB-6", 5, "2"));
        m_controller->addDevice(row("RT-41", 100, "3"));
        m_controller->addDevice(row("hb-6", 40, "4"));
        m_table->descriptors = {{u"deviceType"_s, true}, {u"uptime"_s, false}};
        m_controller->tableViewSortDescriptorsDidChange();
        QCOMPARE(hostnames(m_controller->filteredDevices()), (QStringList{u"4"_s, u"2"_s, u"3"_s, u"1"_s}));
    }

    void naturalComparison_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order");
        QTest::newRow("digit runs by value") << u"10.0.0.9"_s << u"10.0.0.10"_s << -1;
        QTest::newRow("case ignored") << u"Lobby"_s << u"lobby"_s << 0;
        QTest::newRow("letters") << u"alpha"_s << u"Beta"_s << -1;
        QTest::newRow("leading zeros") << u"dev007"_s << u"dev7"_s << 0;
        QTest::newRow("prefix first") << u"dev"_s << u"dev1"_s << -1;
        QTest::newRow("long numbers") << u"99999999999999999999"_s << u"100000000000000000000"_s << -1;
    }

    void naturalComparison()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, order);
        QCOMPARE(compareNatural(a, b), order);
        QCOMPARE(compareNatural(b, a), -order);
    }

    void numbersCompareByValue()
    {
        QVERIFY(compareValues(QJsonValue(9), QJsonValue(10)) < 0);
        QVERIFY(compareValues(QJsonValue(2.5), QJsonValue(-3)) > 0);
        QVERIFY(compareValues(QJsonValue(QJsonValue::Undefined), QJsonValue(u""_s)) < 0);
        QCOMPARE(compareValues(QJsonValue(QJsonValue::Undefined), QJsonValue(QJsonValue::Null)), 0);
        // Numbers before texts, so that 1.25 < 1.5 < "1.10" < "1.25" leaves no cycle.
        QVERIFY(compareValues(QJsonValue(1.5), QJsonValue(u"1.10"_s)) < 0);
        QVERIFY(compareValues(QJsonValue(u"1.10"_s), QJsonValue(1.25)) > 0);
    }

    void addIfNew()
    {
        const Device first = device(QJsonObject{{u"macAddress"_s, u"AA:01"_s}, {u"uptime"_s, u"0d 00:00:05"_s}});
        const Device again = device(QJsonObject{{u"macAddress"_s, u"AA:01"_s}, {u"uptime"_s, u"0d 00:09:00"_s}});
        const Device otherCase = device(QJsonObject{{u"macAddress"_s, u"aa:01"_s}});
        const Device noMac = device(QJsonObject{{u"hostname"_s, u"anonymous"_s}});

        QVERIFY(m_controller->addIfNew(first, MainViewController::FoundList::Vudidu));
        QVERIFY(!m_controller->addIfNew(again, MainViewController::FoundList::Xpico));
        QVERIFY(m_controller->addIfNew(otherCase, MainViewController::FoundList::Vudidu));
        QVERIFY(m_controller->addIfNew(noMac, MainViewController::FoundList::Vudidu));
        QVERIFY(m_controller->addIfNew(noMac, MainViewController::FoundList::Vudidu));

        QCOMPARE(m_controller->devices(), (DeviceList{first, otherCase, noMac, noMac}));
        QCOMPARE(m_controller->vudiduDevices(), (DeviceList{first, otherCase, noMac, noMac}));
        QCOMPARE(m_controller->xpicoDevices(), DeviceList{again});
        QCOMPARE(m_controller->devices().first()->text(DeviceKey::uptime), u"0d 00:00:05"_s);
        // One record, shared by the lists rather than copied.
        QCOMPARE(m_controller->filteredDevices().first().get(), m_controller->vudiduDevices().first().get());
    }

    void pruneKeepsFoundDevicesInOrder()
    {
        const Device a = device(u"a"_s, u"01"_s);
        const Device b = device(u"b"_s, u"02"_s);
        const Device c = device(u"c"_s, u"03"_s);
        const Device d = device(u"d"_s, u"04"_s);
        const Device anonymous = device(u"e"_s, QString());
        for (const Device &x : {a, b, c, d, anonymous})
            m_controller->addDevice(x);
        m_controller->search(u"[abd]"_s); // matches nothing: every row hidden
        m_controller->search(QString());
        m_table->descriptors = {{u"hostname"_s, false}};
        m_controller->tableViewSortDescriptorsDidChange();
        m_controller->search(u"b"_s);

        // This run found c (twice), a, and a record with b's name but no address.
        m_controller->setVudiduDevices({c, device(u"c again"_s, u"03"_s), device(u"b"_s, QString())});
        m_controller->setXpicoDevices({device(u"a"_s, u"01"_s), anonymous});
        m_table->reloads = 0;
        m_controller->pruneToFoundDevices();

        QCOMPARE(m_controller->devices(), (DeviceList{a, c}));
        QCOMPARE(m_controller->filteredDevices(), DeviceList{});
        QCOMPARE(m_table->reloads, 1);
        m_controller->search(QString());
        QCOMPARE(m_controller->filteredDevices(), (DeviceList{a, c}));
    }

    void pruneWithNothingFoundEmptiesTheList()
    {
        m_controller->addDevice(device(u"a"_s, u"01"_s));
        m_controller->pruneToFoundDevices();
        QCOMPARE(m_controller->numberOfRowsInTableView(), 0);
        QVERIFY(m_controller->devices().isEmpty());
    }

    void goneTableMakesReloadsDoNothing()
    {
        m_controller->addDevice(device(u"b"_s, u"02"_s));
        m_controller->addDevice(device(u"a"_s, u"01"_s));
        m_table.reset();
        m_controller->search(QString());
        m_controller->tableViewSortDescriptorsDidChange();
        m_controller->pruneToFoundDevices();
        QVERIFY(m_controller->devices().isEmpty());
    }

    void recordKeepsNestedValues()
    {
        QJsonObject reply{{u"hostname"_s, u"x"_s},
                          {u"network"_s, QJsonObject{{u"dhcp"_s, true}}},
                          {u"ports"_s, QJsonArray{80, 443}}};
        DeviceRecord record(reply);
        record.setValue(DeviceKey::uptime, u"0d 00:00:01"_s);
        record.setValue(DeviceKey::hostname, QJsonValue(QJsonValue::Undefined));
        QVERIFY(!record.object().contains(u"hostname"_s));
        QCOMPARE(record.value(u"network").toObject().value(u"dhcp"_s), QJsonValue(true));
        QCOMPARE(record.text(u"ports"), u"[80,443]"_s);
        QCOMPARE(valueText(QJsonValue(93784)), u"93784"_s);
        QCOMPARE(valueText(QJsonValue(1.5)), u"1.5"_s);
    }

private:
    std::shared_ptr<MainViewController> m_controller;
    std::shared_ptr<FakeTableView> m_table;
};

QTEST_GUILESS_MAIN(TestDeviceList)
#include "tst_devicelist.moc"
