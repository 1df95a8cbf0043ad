#include "history/devicehistory.h"
#include "platform/preferences.h"
#include "support/devices.h"
#include "support/fakecontrols.h"
#include "support/logcapture.h"
#include "support/root.h"

#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace Qt::StringLiterals;
using Kind = DeviceProfile::Kind;
using Http = DeviceProfile::Http;

namespace {

QJsonObject info(int i)
{
    return {{u"macAddress"_s, u"02:00:00:00:09:%1"_s.arg(i, 2, 16, QLatin1Char('0'))},
            {u"serialNumber"_s, u"10391234567"_s}};
}

} // namespace

// Simulated devices on loopback port 80, which needs root: the tests say so when they skip.
class TestRangeScan final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        QCoreApplication::setOrganizationName(u"devicefinder-tests"_s);
        QCoreApplication::setApplicationName(u"tst_rangescan"_s);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_config.path());
    }

    void init()
    {
        QSettings().clear();
        m_ui = std::make_unique<FakeControls>();
        m_log = std::make_unique<LogCapture>();
    }

    void cleanup()
    {
        m_log.reset();
        m_sim.reset();
    }

    // The controls show the scan; the old list stays until the end, then loses what did not answer
    // or has no MAC. Only devices that answer are looked up, each named by its own look-up though
    // they end out of order; a handed-over record keeps its address.
    void scanRunsItsSequence()
    {
        REQUIRE_ROOT("a scan probes port 80");
        QHash<QString, QString> names;
        QHash<QString, std::chrono::milliseconds> delays;
        QList<DeviceProfile> devices;
        for (int i = 16; i < 24; ++i) {
            const QString address = u"127.0.9.%1"_s.arg(i);
            names.insert(address, u"name-%1"_s.arg(i));
            delays.insert(address, std::chrono::milliseconds(40 * (24 - i))); // the later, the sooner
            if (i < 21 && i != 18)
                devices.append(simDevice(Kind::Info, u"d%1"_s.arg(i), address, info(i), 80));
        }
        names.remove(u"127.0.9.17"_s);
        delays.insert(u"127.0.9.19"_s, std::chrono::milliseconds(3'500)); // past the budget: no name
        devices.append(simDevice(Kind::InfoNotFound, u"legacy"_s, u"127.0.9.21"_s,
                                 {{u"devtype"_s, 12}, {u"name"_s, u"gw"_s}, {u"macaddr"_s, u"02:00:00:00:09:21"_s}}, 80));
        devices.append(withHttp(simDevice(Kind::Info, u"mute"_s, u"127.0.9.22"_s, info(22), 80), Http::NotJson));
        const auto resolver = std::make_shared<TableResolver>(names, QSet<QString>{}, delays);
        m_ui = std::make_unique<FakeControls>(resolver);
        m_sim = startDevices(devices);
        controller()->addDevice(record(u"gone"_s, u"02:00:00:00:09:99"_s));
        controller()->addDevice(record(u"d20, first listing"_s, u"02:00:00:00:09:14"_s));
        controller()->addDevice(record(u"no MAC"_s, QString()));
        m_ui->textBox->color = systemOrangeColor; // left by an earlier expression that failed
        m_ui->textBox->text = u"127.0.9.16/29 "_s;

        controller()->startIPRangeScan();
        controller()->startIPRangeScan(); // a second start during the run does nothing
        QCOMPARE(Preferences::standard().value(LastScanAddressKey).toString(), u"127.0.9.16/29 "_s);
        QCOMPARE(m_ui->textBox->color, FakeControls::defaultColor);
        QCOMPARE(m_ui->rangeButton->title, u"Scanning..."_s);
        QVERIFY(!m_ui->rangeButton->enabled && !m_ui->discoverButton->enabled);
        QVERIFY(!m_ui->progress->hidden && m_ui->progress->animating);
        QCOMPARE(m_ui->table->reloads, 1);
        QCOMPARE(hostnames(controller()->devices()), (QStringList{u"gone"_s, u"d20, first listing"_s, u"no MAC"_s}));

        QTRY_VERIFY_WITH_TIMEOUT(!controller()->discovering(), 60'000);
        QCOMPARE(m_ui->rangeButton->title, u"IP Range Scan"_s);
        QVERIFY(m_ui->rangeButton->enabled && m_ui->discoverButton->enabled);
        QVERIFY(m_ui->progress->hidden && !m_ui->progress->animating);
        QCOMPARE(m_ui->table->reloads, 3);
        QStringList asked = resolver->asked();
        asked.sort();
        QCOMPARE(asked, (QStringList{u"127.0.9.16"_s, u"127.0.9.17"_s, u"127.0.9.19"_s, u"127.0.9.20"_s}));
        QStringList listed = hostnames(controller()->devices());
        listed.sort();
        QCOMPARE(listed, (QStringList{u"d16"_s, u"d17"_s, u"d19"_s, u"d20, first listing"_s, u"gw"_s}));
        for (const Device &device : controller()->devices()) {
            const QString address = device->text(DeviceKey::ipAddress);
            const bool unnamed = address == u"127.0.9.21"_s || address == u"127.0.9.19"_s;
            const QString name = unnamed ? address : names.value(address, address);
            QCOMPARE(device->text(DeviceKey::redirectAddress), name);
        }
        const QStringList lines = m_log->lines();
        QCOMPARE(lines.mid(0, 2), (QStringList{u"IP Range in CIDR notation."_s, u"IP range expanded into 8 addresses."_s}));
        QStringList expected;
        for (int i = 16; i < 24; ++i)
            expected.append(u"GET http://127.0.9.%1/info"_s.arg(i));
        QCOMPARE(lines.filter(u"GET "_s).filter(u"/info"_s), expected);
        QVERIFY(lines.contains(u"Attempting to query 127.0.9.21 as XPico device..."_s));
        QCOMPARE(lines.last(), u"SCAN COMPLETE"_s);
    }

    // A watch round asks its known devices first, at their last addresses (a 404 handed over to
    // the gateway's document, as the scan does), then walks its part of the ranges in order.
    void knownFirstThenTheWalkInTurn()
    {
        REQUIRE_ROOT("a scan probes port 80");
        m_sim = startDevices({simDevice(Kind::Info, u"scanned"_s, u"127.0.9.31"_s, info(0x31), 80),
                              simDevice(Kind::InfoNotFound, u"legacy"_s, u"127.0.9.32"_s,
                                        {{u"devtype"_s, 12}, {u"name"_s, u"gw"_s}, {u"macaddr"_s, u"02:00:00:00:09:32"_s}}, 80)});
        // The known devices' last addresses lie outside the walk, so that each GET says who asked.
        RangeListResult built = rangeListFromTexts({u"127.0.9.40-49"_s});
        const auto walk = std::make_shared<const RangeList>(*std::move(built));
        const QList<std::pair<QString, QString>> known{{u"02:00:00:00:09:31"_s, u"127.0.9.31"_s},
                                                       {u"02:00:00:00:09:32"_s, u"127.0.9.32"_s},
                                                       {u"02:00:00:00:09:33"_s, u"127.0.9.33"_s}};
        const auto gets = [](const QStringList &lines, const QString &prefix) {
            QStringList addresses;
            for (const QString &line : lines.filter(u"/info"_s).filter(u"GET http://"_s + prefix))
                addresses.append(line.section(u'/', 2, 2));
            return addresses;
        };
        QVERIFY(controller()->startWatchRound({.discover = false, .walk = walk, .known = known, .arpRate = 30}));
        QTRY_VERIFY_WITH_TIMEOUT(!controller()->discovering(), 30'000);
        QCOMPARE(gets(m_log->lines(), QString()).first(), u"127.0.9.31"_s);
        QCOMPARE(gets(m_log->lines(), u"127.0.9.3"_s), (QStringList{u"127.0.9.31"_s, u"127.0.9.32"_s, u"127.0.9.33"_s}));
        QStringList walked;
        for (int i = 40; i < 50; ++i)
            walked.append(u"127.0.9.%1"_s.arg(i));
        QCOMPARE(gets(m_log->lines(), u"127.0.9.4"_s), walked);
        // With the broadcasts, the busy button says so during them, and the scan's progress
        // shows during the rest, the known devices' asks included.
        m_ui->discoverButton->titles.clear();
        m_ui->rangeButton->titles.clear();
        QVERIFY(controller()->startWatchRound({.discover = true, .walk = walk, .known = known}));
        QCOMPARE(m_ui->rangeButton->titles, QStringList());
        QVERIFY(!controller()->scanProgress() || controller()->scanProgress()->finished);
        QTRY_VERIFY_WITH_TIMEOUT(!controller()->discovering(), 30'000);
        QCOMPARE(m_ui->discoverButton->titles,
                 (QStringList{u"Discovering..."_s, u"Discover (Local Network)"_s, u"Discover (Local Network)"_s}));
        QCOMPARE(m_ui->rangeButton->titles, (QStringList{u"Scanning..."_s, u"IP Range Scan"_s}));
        QStringList listed = hostnames(controller()->devices());
        listed.sort();
        QCOMPARE(listed, (QStringList{u"gw"_s, u"scanned"_s}));
    }

    // A round whose time ran out judges only what it asked: a device the history last saw in the
    // part of the walk it did not reach is not missing. The known devices' asks, at the pace,
    // take the whole of the walk's time.
    void aRoundThatRanOutJudgesWhatItWalked()
    {
        REQUIRE_ROOT("a scan probes port 80");
        qputenv("DEVICEFINDER_ARP_HELPER", "");
        const QString path = m_config.filePath(u"ran-out/history.json"_s);
        DeviceHistory history;
        history.record({std::make_shared<const DeviceRecord>(QJsonObject{{u"macAddress"_s, u"02:00:00:00:09:45"_s},
                                                                        {u"ipAddress"_s, u"127.0.9.45"_s}})},
                       true, QDateTime::currentDateTimeUtc().addSecs(-60), {[](const QString &) { return true; }});
        QVERIFY(history.save(path));
        controller()->setHistoryFile(path);
        controller()->setArpRate(30);
        RangeListResult built = rangeListFromTexts({u"127.0.9.40-49"_s});
        QList<std::pair<QString, QString>> known;
        for (int i = 100; i < 125; ++i) // nobody there
            known.append({u"02:00:00:00:0a:%1"_s.arg(i), u"127.0.9.%1"_s.arg(i)});
        QVERIFY(controller()->startWatchRound({.discover = false,
                                               .walk = std::make_shared<const RangeList>(*std::move(built)),
                                               .known = known,
                                               .walkUntil = std::chrono::steady_clock::now() + std::chrono::seconds(1),
                                               .arpRate = 30}));
        std::optional<MainViewController::FinishedRun> finished;
        controller()->setRunFinishedHandler([&](const MainViewController::FinishedRun &run) { finished = run; });
        QTRY_VERIFY_WITH_TIMEOUT(!controller()->discovering(), 30'000);
        qunsetenv("DEVICEFINDER_ARP_HELPER");
        QVERIFY(finished && finished->round && finished->round->walked < 10);
        QVERIFY(controller()->latestChanges().since.isValid());
        QCOMPARE(controller()->latestChanges().missing.size(), 0);
    }

    // A stop, also while the walk waits for a unit or a probe for its look-up: never over 50 in
    // flight, none after, all end within a second, a late look-up merges nothing, no completion.
    void stopEndsTheScan_data()
    {
        QTest::addColumn<int>("lookUpMs");
        QTest::newRow("walk waiting for a unit") << 0;
        QTest::newRow("probe waiting for its look-up") << 2'500;
    }

    void stopEndsTheScan()
    {
        QFETCH(int, lookUpMs);
        REQUIRE_ROOT("a scan probes port 80");
        QList<DeviceProfile> devices{simDevice(Kind::Info, u"corva"_s, u"127.0.11.0"_s, info(0), 80)};
        for (int i = 4; i <= 63; ++i) // .1 to .3 refuse: probed at once, with no answer
            devices.append(withHttp(simDevice(Kind::Info, u"s%1"_s.arg(i), u"127.0.11.%1"_s.arg(i), {}, 80), Http::Silent));
        const auto resolver = std::make_shared<TableResolver>(
            QHash<QString, QString>{}, QSet<QString>{},
            QHash<QString, std::chrono::milliseconds>{{u"127.0.11.0"_s, std::chrono::milliseconds(lookUpMs)}});
        m_ui = std::make_unique<FakeControls>(resolver);
        m_sim = startDevices(devices);
        controller()->addDevice(record(u"earlier"_s, u"02:00:00:00:09:99"_s));
        m_ui->textBox->text = u"127.0.11.0/26"_s;
        controller()->startIPRangeScan();
        // The walk waits for a unit: the silent hosts hold one each, and the device holds its
        // own while its look-up lasts, until the stop ends it. Silent hosts hold their
        // connections, so the peak is exact.
        QTRY_VERIFY_WITH_TIMEOUT(resolver->asked().contains(u"127.0.11.0"_s), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(controller()->scanProgress()->probed, quint64(lookUpMs > 0 ? 3 : 4), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(m_log->lines().filter(u"GET "_s).size(), lookUpMs > 0 ? 53 : 54, 5000);
        if (lookUpMs == 0)
            QTRY_COMPARE_WITH_TIMEOUT(m_sim->peakOpenConnections(), 50, 2000);
        controller()->stopRun();
        QCOMPARE(m_log->lines().filter(u"Scan stopped after"_s),
                 QStringList{u"Scan stopped after %1 of 64 addresses"_s.arg(lookUpMs > 0 ? 3 : 4)});
        QElapsedTimer sinceStop;
        sinceStop.start();
        const auto started = [&] { return m_log->lines().filter(u"GET "_s).size(); };
        QTRY_COMPARE_WITH_TIMEOUT(qsizetype(controller()->scanProgress()->probed), started(), 5000);
        QVERIFY2(sinceStop.elapsed() < 1500, qPrintable(QString::number(sinceStop.elapsed())));
        QTest::qWait(200 + lookUpMs); // a late look-up has ended too
        QCOMPARE(qsizetype(controller()->scanProgress()->probed), started());
        // 50 in flight, and the four that gave their units back before the stop.
        QVERIFY2(started() <= 54, qPrintable(QString::number(started())));
        QVERIFY(!m_log->lines().contains(u"SCAN COMPLETE"_s));
        QCOMPARE(controller()->devices().value(0)->text(DeviceKey::hostname), u"earlier"_s);
        if (lookUpMs > 0)
            QCOMPARE(controller()->devices().size(), 1);
        QVERIFY2(m_sim->peakOpenConnections() <= 50, qPrintable(QString::number(m_sim->peakOpenConnections())));
    }

private:
    MainViewController *controller() const { return m_ui->controller.get(); }

    QTemporaryDir m_config;
    std::unique_ptr<FakeControls> m_ui;
    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<DeviceSim> m_sim;
};

QTEST_GUILESS_MAIN(TestRangeScan)
#include "tst_rangescan.moc"
