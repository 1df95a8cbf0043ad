#include "app/appdelegate.h"
#include "app/commandline.h"
#include "app/modelnames.h"
#include "platform/preferences.h"
#include "support/fakecontrols.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

class TestApp final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        QCoreApplication::setOrganizationName(u"devicefinder-tests"_qs);
        QCoreApplication::setApplicationName(u"tst_app"_qs);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_config.path());
    }

    void init() { QSettings().clear(); }

    void modelNames_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("name"); // null: no entry
        QTest::newRow("1060") << u"1060"_qs << u"HB-5E"_qs;
        QTest::newRow("1111") << u"1111"_qs << u"KQ-1"_qs;
        QTest::newRow("1149") << u"1149"_qs << u"HB-6"_qs;
        QTest::newRow("unknown") << u"1234"_qs << QString();
        QTest::newRow("first three digits") << u"106"_qs << QString();
        QTest::newRow("digit appended") << u"10600"_qs << QString();
        QTest::newRow("empty") << QString() << QString();
    }

    void modelNames()
    {
        QFETCH(QString, code);
        QFETCH(QString, name);
        MainViewController controller;
        QCOMPARE(modelName(code).value_or(QString()), name);
        QCOMPARE(modelName(code).has_value(), !name.isNull());
    }

    void secondControllerRebuildsTheSameTable()
    {
        MainViewController first;
        const auto before = MODEL_NAMES();
        MainViewController second;
        const auto after = MODEL_NAMES();
        QVERIFY(before != after);
        QCOMPARE(after->size(), 11);
        QCOMPARE(*after, *before);
    }

    void preferencesPreferStoredValues()
    {
        Preferences &preferences = Preferences::standard();
        QVERIFY(!preferences.value(u"Unregistered"_qs).isValid());
        preferences.registerDefaults({{u"Colour"_qs, u"blue"_qs}});
        QCOMPARE(preferences.value(u"Colour"_qs).toString(), u"blue"_qs);
        QVERIFY(!QSettings().contains(u"Colour"_qs)); // a default is never stored

        preferences.setValue(u"Colour"_qs, u"green"_qs);
        QCOMPARE(preferences.value(u"Colour"_qs).toString(), u"green"_qs);
        QCOMPARE(QSettings().value(u"Colour"_qs).toString(), u"green"_qs);
    }

    void startUpFillsTheRangeBoxAndWidensTheWindow_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("shown");
        QTest::newRow("first launch") << QString() << u"192.168.1.1/24"_qs;
        QTest::newRow("after a scan") << u"10.0.0.1-20 "_qs << u"10.0.0.1-20 "_qs;
        QTest::newRow("stored empty") << u""_qs << u"as the view made it"_qs;
    }

    void startUpFillsTheRangeBoxAndWidensTheWindow()
    {
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        if (!stored.isNull())
            Preferences::standard().setValue(LastScanAddressKey, stored);

        auto textBox = std::make_shared<FakeTextField>();
        textBox->text = u"as the view made it"_qs;
        textBox->color = 0xFF123456;
        auto table = std::make_shared<FakeTableView>();
        QObject view;
        AppDelegate delegate([&](MainViewController &controller) -> QObject * {
            controller.setIpRangeTextBox(textBox);
            controller.setTableView(table);
            return &view;
        });
        FakeWindow window;
        delegate.setWindow(&window);
        delegate.applicationDidFinishLaunching();

        QVERIFY(delegate.rootViewController());
        QCOMPARE(textBox->text, shown);
        QCOMPARE(delegate.rootViewController()->defaultTextColor(), Color(0xFF123456));
        QCOMPARE(delegate.rootViewController()->numberOfRowsInTableView(), 0);
        QVERIFY(table->reloads >= 1);
        QCOMPARE(window.contentView, &view);
        QCOMPARE(window.rect, QRectF(40, 60, 1000, 480));
        QVERIFY(window.displayed);
    }

    void startUpWithoutWindowStillMakesTheController()
    {
        AppDelegate delegate;
        delegate.applicationDidFinishLaunching();
        QVERIFY(delegate.rootViewController());
        QVERIFY(delegate.rootViewController()->isViewLoaded());
        QVERIFY(!delegate.rootViewController()->view());
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("range");
        using K = Command::Kind;
        QTest::newRow("window") << QStringList{} << int(K::Window) << QString();
        QTest::newRow("help") << QStringList{u"--help"_qs} << int(K::Help) << QString();
        QTest::newRow("version") << QStringList{u"--version"_qs} << int(K::Version) << QString();
        QTest::newRow("expand") << QStringList{u"expand"_qs, u"10.0.0.0/30"_qs} << int(K::Expand)
                                << u"10.0.0.0/30"_qs;
        QTest::newRow("expand, no range") << QStringList{u"expand"_qs} << int(K::UsageError) << QString();
        QTest::newRow("expand, two ranges")
            << QStringList{u"expand"_qs, u"a"_qs, u"b"_qs} << int(K::UsageError) << QString();
        QTest::newRow("unknown") << QStringList{u"frobnicate"_qs} << int(K::UsageError) << QString();
        QTest::newRow("help with more") << QStringList{u"--help"_qs, u"x"_qs} << int(K::UsageError) << QString();
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, kind);
        QFETCH(QString, range);
        const Command command = parseCommandLine(arguments);
        QCOMPARE(int(command.kind), kind);
        QCOMPARE(command.range, range);
        QCOMPARE(command.message.isEmpty(), command.kind != Command::Kind::UsageError);
    }

private:
    QTemporaryDir m_config;
};

QTEST_GUILESS_MAIN(TestApp)
#include "tst_app.moc"
