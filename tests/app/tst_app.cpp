#include "app/appdelegate.h"
#include "app/commandline.h"
#include "app/modelnames.h"
#include "platform/preferences.h"
#include "support/fakecontrols.h"

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
        QCOMPARE(delegate.rootViewController()->defaultTextColor().value_or(0), Color(0xFF123456));
        QCOMPARE(delegate.rootViewController()->numberOfRowsInTableView(), 0);
        QVERIFY(table->reloads >= 1);
        QCOMPARE(window.contentView, &view);
        QCOMPARE(window.rect, QRectF(40, 60, 1000, 480));
        QVERIFY(window.displayed);
    }

    void startUpWithoutWindowStillMakesTheController()
    {
        // Before the view has loaded no colour is saved, not even transparent black.
        QVERIFY(!MainViewController().defaultTextColor());
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
        QTest::newRow("help") << QStringList{u"--help"_s} << int(K::Help) << QString();
        QTest::newRow("version") << QStringList{u"--version"_s} << int(K::Version) << QString();
        QTest::newRow("expand") << QStringList{u"expand"_s, u"10.0.0.0/30"_s} << int(K::Expand)
                                << u"10.0.0.0/30"_s;
        QTest::newRow("expand, no range") << QStringList{u"expand"_s} << int(K::UsageError) << QString();
        QTest::newRow("expand, two ranges")
            << QStringList{u"expand"_s, u"a"_s, u"b"_s} << int(K::UsageError) << QString();
        QTest::newRow("unknown") << QStringList{u"frobnicate"_s} << int(K::UsageError) << QString();
        QTest::newRow("help with more") << QStringList{u"--help"_s, u"x"_s} << int(K::UsageError) << QString();
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
