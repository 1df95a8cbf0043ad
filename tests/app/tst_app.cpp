#include "app/appdelegate.h"
#include "app/commandline.h"
#include "model/modelnames.h"
#include "platform/preferences.h"
#include "support/fakecontrols.h"
#include "support/logcapture.h"
#include "support/tableresolver.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestApp final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        QCoreApplication::setOrganizationName(u"devicefinder-tests"_s);
        QCoreApplication::setApplicationName(u"tst_app"_s);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_config.path());
    }

    void init() { QSettings().clear(); }

    void modelNames_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("name"); // null: no entry
        QTest::newRow("1060") << u"1060"_s << u"HB-5E"_s;
        QTest::newRow("1111") << u"1111"_s << u"KQ-1"_s;
        QTest::newRow("1149") << u"1149"_s << u"HB-6"_s;
        QTest::newRow("unknown") << u"1234"_s << QString();
        QTest::newRow("first three digits") << u"106"_s << QString();
        QTest::newRow("digit appended") << u"10600"_s << QString();
        QTest::newRow("empty") << QString() << QString();
    }

    void modelNames()
    {
        QFETCH(QString, code);
        QFETCH(QString, name);
        const MainViewController controller(loopbackBroadcast);
        QCOMPARE(modelName(code).value_or(QString()), name);
        QCOMPARE(modelName(code).has_value(), !name.isNull());
    }

    void secondControllerRebuildsTheSameTable()
    {
        const MainViewController first(loopbackBroadcast);
        const auto before = MODEL_NAMES();
        const MainViewController second(loopbackBroadcast);
        const auto after = MODEL_NAMES();
        QVERIFY(before != after);
        QCOMPARE(after->size(), 11);
        QCOMPARE(*after, *before);
    }

    void preferencesPreferStoredValues()
    {
        Preferences &preferences = Preferences::standard();
        QVERIFY(!preferences.value(u"Unregistered"_s).isValid());
        preferences.registerDefaults({{u"Colour"_s, u"blue"_s}});
        QCOMPARE(preferences.value(u"Colour"_s).toString(), u"blue"_s);
        QVERIFY(!QSettings().contains(u"Colour"_s)); // a default is never stored

        preferences.setValue(u"Colour"_s, u"green"_s);
        QCOMPARE(preferences.value(u"Colour"_s).toString(), u"green"_s);
        QCOMPARE(QSettings().value(u"Colour"_s).toString(), u"green"_s);
    }

    void startUpFillsTheRangeBoxAndWidensTheWindow_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("shown");
        QTest::newRow("first launch") << QString() << u"192.168.1.1/24"_s;
        QTest::newRow("after a scan") << u"10.0.0.1-20 "_s << u"10.0.0.1-20 "_s;
        QTest::newRow("stored empty") << u""_s << u"as the view made it"_s;
    }

    void startUpFillsTheRangeBoxAndWidensTheWindow()
    {
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        if (!stored.isNull())
            Preferences::standard().setValue(LastScanAddressKey, stored);

        auto textBox = std::make_shared<FakeTextField>();
        textBox->text = u"as the view made it"_s;
        textBox->color = 0xFF123456;
        auto table = std::make_shared<FakeTableView>();
        auto discoverButton = std::make_shared<FakePushButton>();
        QObject view;
        AppDelegate delegate(
            [&](MainViewController &controller) -> QObject * {
                controller.setIpRangeTextBox(textBox);
                controller.setTableView(table);
                controller.setDiscoverButton(discoverButton);
                return &view;
            },
            loopbackBroadcast, std::make_shared<TableResolver>());
        FakeWindow window;
        delegate.setWindow(&window);
        delegate.applicationDidFinishLaunching();

        QVERIFY(delegate.rootViewController());
        // Loading the view started the first discovery run.
        QVERIFY(delegate.rootViewController()->discovering());
        QCOMPARE(discoverButton->title, u"Discovering..."_s);
        QCOMPARE(textBox->text, shown);
        QCOMPARE(delegate.rootViewController()->defaultTextColor().value_or(0), Color(0xFF123456));
        QCOMPARE(delegate.rootViewController()->numberOfRowsInTableView(), 0);
        QVERIFY(table->reloads >= 1);
        QCOMPARE(window.contentView, &view);
        QCOMPARE(window.rect, QRectF(40, 60, 1000, 480));
        QVERIFY(window.displayed);
        waitForTheRun(*delegate.rootViewController());
    }

    void startUpWithoutWindowStillMakesTheController()
    {
        // Before the view has loaded no colour is saved, not even transparent black.
        QVERIFY(!MainViewController(loopbackBroadcast).defaultTextColor());
        AppDelegate delegate({}, loopbackBroadcast, std::make_shared<TableResolver>());
        delegate.applicationDidFinishLaunching();
        QVERIFY(delegate.rootViewController());
        QVERIFY(delegate.rootViewController()->isViewLoaded());
        QVERIFY(!delegate.rootViewController()->view());
        QVERIFY(delegate.rootViewController()->discovering());
        waitForTheRun(*delegate.rootViewController());
    }

    // A stop ends a run here and now as a stopped run: the controls idle, one line saying
    // how far it got, the devices listed before it kept (a run that ends with no answers
    // would drop them), and a new run may start at once. The discovery run waits in its
    // receive window on loopback, where nothing answers; the stop comes before the scan of
    // addresses where nothing listens can end.
    void stopEndsARunAtOnce()
    {
        LogCapture log;
        auto controller = std::make_shared<MainViewController>(loopbackBroadcast, std::make_shared<TableResolver>());
        const auto discover = std::make_shared<FakePushButton>();
        const auto scan = std::make_shared<FakePushButton>();
        const auto stop = std::make_shared<FakeRunControl>();
        const auto busy = std::make_shared<FakeProgressIndicator>();
        const auto range = std::make_shared<FakeTextField>();
        controller->setDiscoverButton(discover);
        controller->setIpRangeButton(scan);
        controller->setStopButton(stop);
        controller->setProgressIndicator(busy);
        controller->setIpRangeTextBox(range);
        int finished = 0;
        controller->setRunFinishedHandler([&] { ++finished; });
        const Device kept = std::make_shared<const DeviceRecord>(QJsonObject{{u"macAddress"_s, u"02:00:00:00:00:01"_s}});
        controller->addDevice(kept);

        controller->startDiscovery();
        QVERIFY(stop->available && !busy->hidden);
        QTRY_VERIFY(log.contains(u"Broadcast sent"_s));
        controller->stopRun();
        QVERIFY(!controller->isRunning() && !controller->discovering());
        QVERIFY(!stop->available && busy->hidden && discover->enabled);
        QCOMPARE(discover->title, u"Discover (Local Network)"_s);
        QVERIFY(log.contains(u"Discovery stopped after 0 answers"_s));
        QVERIFY(log.contains(u"Discovery Stopped"_s));
        QCOMPARE(finished, 1);

        range->text = u"127.0.15.0/24"_s;
        controller->startIPRangeScan();
        QVERIFY(controller->discovering() && stop->available);
        controller->stopRun();
        QVERIFY(!controller->discovering() && !stop->available && busy->hidden && scan->enabled && discover->enabled);
        QCOMPARE(scan->title, u"IP Range Scan"_s);
        QVERIFY(log.contains(u"Scan stopped after 0 of 256 addresses"_s));
        QCOMPARE(finished, 2);

        // Both runs wind down on their own, and nothing of them reaches the controller.
        QTRY_VERIFY_WITH_TIMEOUT(controller.use_count() == 1, 20'000);
        QCOMPARE(controller->devices(), DeviceList{kept});
        QCOMPARE(finished, 2);
        QVERIFY(!controller->discovering());
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("broadcast");
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("replyPort");
        using K = Command::Kind;
        using F = OutputFormat;
        const QString everyone;
        const auto row = [](const char *name, const QStringList &arguments, K kind, const QString &argument = {},
                            const QString &broadcast = {}, F format = F::Text, int replyPort = 0) {
            QTest::newRow(name) << arguments << int(kind) << argument << broadcast << int(format) << replyPort;
        };
        row("window", {}, K::Window);
        row("window, broadcast", {u"--broadcast"_s, u"192.168.1.255"_s}, K::Window, {}, u"192.168.1.255"_s);
        row("window, bad broadcast", {u"--broadcast"_s, u"192.168.1"_s}, K::UsageError);
        row("window, reply port", {u"--reply-port"_s, u"40000"_s, u"--broadcast"_s, u"10.0.0.255"_s}, K::Window, {},
            u"10.0.0.255"_s, F::Text, 40000);
        row("window, reply port 0", {u"--reply-port"_s, u"0"_s}, K::UsageError);
        row("discover, reply port", {u"discover"_s, u"--reply-port"_s, u"65535"_s}, K::Discover, {}, {}, F::Text, 65535);
        row("discover, reply port too big", {u"discover"_s, u"--reply-port"_s, u"65536"_s}, K::UsageError);
        row("discover, reply port missing", {u"discover"_s, u"--reply-port"_s}, K::UsageError);
        row("discover, reply port not a number", {u"discover"_s, u"--reply-port"_s, u"-1"_s}, K::UsageError);
        row("scan, no reply port", {u"scan"_s, u"10.0.0.0/30"_s, u"--reply-port"_s, u"40000"_s}, K::UsageError);
        row("help", {u"--help"_s}, K::Help);
        row("version", {u"--version"_s}, K::Version);
        row("expand", {u"expand"_s, u"10.0.0.0/30"_s}, K::Expand, u"10.0.0.0/30"_s);
        row("expand, no range", {u"expand"_s}, K::UsageError);
        row("expand, two ranges", {u"expand"_s, u"a"_s, u"b"_s}, K::UsageError);
        row("discover", {u"discover"_s}, K::Discover);
        row("discover, json, broadcast", {u"discover"_s, u"--broadcast"_s, u"10.1.255.255"_s, u"--json"_s},
            K::Discover, {}, u"10.1.255.255"_s, F::Json);
        row("discover, operand", {u"discover"_s, u"10.0.0.1"_s}, K::UsageError);
        row("discover, json and csv", {u"discover"_s, u"--json"_s, u"--csv"_s}, K::UsageError);
        row("scan", {u"scan"_s, u"10.0.0.0/30"_s, u"--csv"_s}, K::Scan, u"10.0.0.0/30"_s, everyone, F::Csv);
        row("scan, no broadcast", {u"scan"_s, u"10.0.0.0/30"_s, u"--broadcast"_s, u"10.0.0.255"_s}, K::UsageError);
        row("scan, no range", {u"scan"_s, u"--json"_s}, K::UsageError);
        row("probe", {u"probe"_s, u"10.0.0.7"_s, u"--json"_s}, K::Probe, u"10.0.0.7"_s, everyone, F::Json);
        row("probe, port", {u"probe"_s, u"127.0.0.5:8080"_s}, K::Probe, u"127.0.0.5:8080"_s);
        row("probe, host name", {u"probe"_s, u"corva-hall.lan"_s}, K::Probe, u"corva-hall.lan"_s);
        row("probe, leading zero", {u"probe"_s, u"010.0.0.1"_s}, K::UsageError);
        row("probe, octet above 255", {u"probe"_s, u"192.168.1.260"_s}, K::UsageError);
        row("probe, three octets", {u"probe"_s, u"10.0.1"_s}, K::UsageError);
        row("probe, port 0", {u"probe"_s, u"10.0.0.1:0"_s}, K::UsageError);
        row("probe, port too big", {u"probe"_s, u"10.0.0.1:65536"_s}, K::UsageError);
        row("probe, blank", {u"probe"_s, u"10.0.0.1 "_s}, K::UsageError);
        row("probe, path", {u"probe"_s, u"10.0.0.1/x"_s}, K::UsageError);
        row("unknown", {u"frobnicate"_s}, K::UsageError);
        row("unknown option", {u"discover"_s, u"--fast"_s}, K::UsageError);
        row("help with more", {u"--help"_s, u"x"_s}, K::UsageError);
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, kind);
        QFETCH(QString, argument);
        QFETCH(QString, broadcast);
        QFETCH(int, format);
        QFETCH(int, replyPort);
        const Command command = parseCommandLine(arguments);
        QCOMPARE(int(command.kind), kind);
        QCOMPARE(command.message.isEmpty(), command.kind != Command::Kind::UsageError);
        if (command.kind == Command::Kind::UsageError)
            return;
        QCOMPARE(command.argument, argument);
        QCOMPARE(command.broadcastAddress, broadcast);
        QCOMPARE(int(command.format), format);
        QCOMPARE(int(command.replyPort), replyPort);
    }

private:
    // Two receive windows of nothing on loopback: about 5 s.
    static void waitForTheRun(const MainViewController &controller)
    {
        QTRY_VERIFY_WITH_TIMEOUT(!controller.discovering(), 20'000);
    }

    QTemporaryDir m_config;
};

QTEST_GUILESS_MAIN(TestApp)
#include "tst_app.moc"
