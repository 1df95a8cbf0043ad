#include "app/appdelegate.h"
#include "platform/preferences.h"
#include "support/simprofiles.h"
#include "support/tableresolver.h"
#include "tools/devicesim/devicesim.h"
#include "ui/applicationicon.h"
#include "ui/exportfile.h"
#include "ui/mainview.h"
#include "ui/mainwindow.h"

#include <QAction>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

#include <csignal>
#include <unistd.h>

using namespace Qt::StringLiterals;
using Kind = DeviceProfile::Kind;

namespace {

Device record(const QJsonObject &object)
{
    return std::make_shared<const DeviceRecord>(object);
}

QJsonObject device(const QString &hostname, const QString &serial, const QString &mac)
{
    return {{u"hostname"_s, hostname}, {u"serialNumber"_s, serial}, {u"macAddress"_s, mac},
            {u"redirectAddress"_s, hostname + u".example"_s}};
}

// Runs the event loop until `done` holds, for at most `limitMs`.
template <typename Condition>
bool waitUntil(Condition done, int limitMs = 30'000)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    poll.start(20);
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    if (!done())
        loop.exec();
    return done();
}

} // namespace

// The real window, offscreen: the form, the adapters, the table and the start-up sequence,
// with discovery broadcasts on loopback (so this test holds the lock on the protocols'
// ports) and, where root may serve port 80, simulated devices on 127.0.10.x.
class TestWindow final : public QObject {
    Q_OBJECT

public slots:
    void openedUrl(const QUrl &url) { m_opened.append(url); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        QCoreApplication::setOrganizationName(u"devicefinder-tests"_s);
        QCoreApplication::setApplicationName(u"tst_window"_s);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_config.path());
        QDesktopServices::setUrlHandler(u"http"_s, this, "openedUrl");
    }

    void init()
    {
        QSettings().clear();
        m_opened.clear();
    }

    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(u"http"_s); }

    void cleanup()
    {
        if (m_delegate && m_delegate->rootViewController())
            QVERIFY(waitUntil([&] { return !m_delegate->rootViewController()->discovering(); }));
        m_window.reset();
        m_delegate.reset();
        m_sim.reset();
    }

    // Right after the window opens: an empty table, the range from the preferences, the
    // discovery run under way, and the width the tool gives the window.
    void startUpState_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("shown");
        QTest::newRow("first start") << QString() << u"192.168.1.1/24"_s;
        QTest::newRow("a range scanned before") << u"127.0.10.0/30"_s << u"127.0.10.0/30"_s;
    }
    void startUpState()
    {
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        if (!stored.isEmpty())
            Preferences::standard().setValue(LastScanAddressKey, stored);
        launch();

        QCOMPARE(table()->model()->rowCount(), 0);
        QCOMPARE(widget<QLineEdit>("ipRangeTextBox")->text(), shown);
        QCOMPARE(widget<QPushButton>("discoverButton")->text(), u"Discovering..."_s);
        QVERIFY(!widget<QPushButton>("discoverButton")->isEnabled());
        QVERIFY(widget<QWidget>("progressIndicator")->isVisible());
        QCOMPARE(m_window->geometry().width(), 1000);
        QCOMPARE(m_window->pos(), QPoint(40, 30));
        QCOMPARE(m_window->centralWidget()->height(), 520); // as the form has it
        QCOMPARE(table()->horizontalHeader()->count(), 8);
        QCOMPARE(applicationIcon().availableSizes().size(), 7); // the built-in icon is there
        QCOMPARE(table()->model()->headerData(0, Qt::Horizontal).toString(), u"Host name"_s);
        QCOMPARE(table()->model()->headerData(6, Qt::Horizontal).toString(), u"Uptime"_s);
    }

    // What the cells show of a record, and that no cell can be selected.
    void cells()
    {
        quietWindow();
        controller()->addDevice(record({{u"hostname"_s, u"corva-a"_s}, {u"serialNumber"_s, 10391234567.0},
                                        {u"tag"_s, u"[none]"_s}, {u"sha"_s, u"c0ffee4d2b"_s},
                                        {u"uptime"_s, u"1d 02:03:04"_s}, {u"redirectAddress"_s, u"corva-a"_s}}));
        controller()->addDevice(record({{u"hostname"_s, u"gw"_s}, {u"uptime"_s, 7200}, {u"tag"_s, u"[none]"_s},
                                        {u"sha"_s, u"abc"_s}}));
        controller()->addDevice(record({{u"hostname"_s, u"bare"_s}}));
        controller()->addDevice(record({{u"hostname"_s, u"<b>x</b>"_s}, {u"tag"_s, u"<img src=x.png>"_s}}));
        controller()->search({}); // lists them all and reloads

        QCOMPARE(rowTexts(0), (QStringList{u"corva-a"_s, u"10391234567"_s, {}, {}, u"c0ffee4"_s, {}, u"1d 02:03:04"_s,
                                          u"Open"_s}));
        QCOMPARE(rowTexts(1), (QStringList{u"gw"_s, {}, {}, {}, u"abc"_s, {}, u"7200"_s, u"Open"_s}));
        QCOMPARE(rowTexts(2), (QStringList{u"bare"_s, {}, {}, {}, {}, {}, {}, u"Open"_s}));
        // Device texts are never markup, in a cell or in its tooltip.
        for (int column : {0, 4}) {
            const QString shown = cell(3, column).data().toString();
            const QString tip = cell(3, column).data(Qt::ToolTipRole).toString();
            QTextDocument rendered;
            if (Qt::mightBeRichText(tip))
                rendered.setHtml(tip);
            else
                rendered.setPlainText(tip);
            QCOMPARE(rendered.toPlainText(), shown);
        }
        QCOMPARE(cell(3, 4).data().toString(), u"<img src=x.png>"_s);

        QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, table()->visualRect(cell(1, 0)).center());
        QTest::keyClick(table(), Qt::Key_Down, Qt::ShiftModifier);
        QVERIFY(!table()->selectionModel()->hasSelection());

        // A row without an address to open does nothing.
        clickOpen(2);
        QVERIFY(m_opened.isEmpty());
    }

    // Header clicks sort like a desktop table, the columns clicked before breaking ties; the
    // "Open" button of a row opens the device that row shows.
    void sortAndOpen()
    {
        quietWindow();
        for (const QJsonObject &object :
             {device(u"b"_s, u"2"_s, u"02:00:00:00:00:01"_s), device(u"a"_s, u"1"_s, u"02:00:00:00:00:02"_s),
              device(u"c"_s, u"1"_s, u"02:00:00:00:00:03"_s), device(u"a"_s, u"2"_s, u"02:00:00:00:00:04"_s)})
            controller()->addDevice(record(object));
        controller()->search({}); // lists them all and reloads

        clickHeader(0); // host name ascending
        clickHeader(1); // serial number ascending, ties by host name
        QCOMPARE(column(0), (QStringList{u"a"_s, u"c"_s, u"a"_s, u"b"_s}));
        QCOMPARE(column(1), (QStringList{u"1"_s, u"1"_s, u"2"_s, u"2"_s}));
        QCOMPARE(table()->horizontalHeader()->sortIndicatorSection(), 1);

        clickHeader(1); // the second click turns it
        QCOMPARE(column(0), (QStringList{u"a"_s, u"b"_s, u"a"_s, u"c"_s}));
        QCOMPARE(table()->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);

        clickHeader(7); // the buttons do not sort
        QCOMPARE(table()->horizontalHeader()->sortIndicatorSection(), 1);
        QCOMPARE(column(0), (QStringList{u"a"_s, u"b"_s, u"a"_s, u"c"_s}));

        clickOpen(1);
        QCOMPARE(m_opened, (QList<QUrl>{QUrl(u"http://b.example"_s)}));
    }

    // The rows filter with every key typed, in the order of adding as a search leaves them;
    // an export writes the rows as shown, in the order shown.
    void filterAsYouTypeAndExport()
    {
        quietWindow();
        for (const QString &name : {u"lab-1"_s, u"hall"_s, u"labyrinth"_s, u"lab-2"_s})
            controller()->addDevice(record(device(name, u"1"_s, u"02:00:00:00:00:0"_s + name.right(1))));
        controller()->search({});

        auto *search = widget<QLineEdit>("search");
        QTest::keyClicks(search, u"la"_s);
        QCOMPARE(column(0), (QStringList{u"lab-1"_s, u"labyrinth"_s, u"lab-2"_s}));
        QTest::keyClick(search, Qt::Key_B);
        QTest::keyClick(search, Qt::Key_Minus);
        QCOMPARE(column(0), (QStringList{u"lab-1"_s, u"lab-2"_s}));
        clickHeader(0);
        clickHeader(0); // host names descending

        const QString path = m_config.filePath(u"shown.json"_s);
        QVERIFY(!writeExportFile(path, controller()->filteredDevices()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonArray rows = QJsonDocument::fromJson(file.readAll()).array();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows.at(0)[u"hostname"_s].toString(), u"lab-2"_s);
        QCOMPARE(rows.at(1)[u"hostname"_s].toString(), u"lab-1"_s);
        QVERIFY(writeExportFile(m_config.filePath(u"no-such-folder/rows.csv"_s), {}).has_value());

        search->clear();
        QCOMPARE(column(0), (QStringList{u"lab-1"_s, u"hall"_s, u"labyrinth"_s, u"lab-2"_s}));
    }

    // The buttons through a discovery run and a scan of devices on loopback, and the colour
    // of an expression that cannot be expanded.
    void buttonsThroughTheRuns()
    {
        if (geteuid() != 0)
            QSKIP("the runs probe port 80, which only root may serve");
        m_sim = std::make_unique<DeviceSim>(QList<DeviceProfile>{
            simDevice(Kind::Info, u"corva-w"_s, u"127.0.10.1"_s,
                      {{u"macAddress"_s, u"02:00:00:00:10:01"_s}, {u"serialNumber"_s, u"10391234567"_s}}, 80),
            simDevice(Kind::Gateway, u"gw-w"_s, u"127.0.10.2"_s,
                      {{u"devtype"_s, 12}, {u"name"_s, u"gw-w"_s}, {u"macaddr"_s, u"02:00:00:00:10:02"_s}}, 80)});
        QString error;
        QVERIFY2(m_sim->start(&error), qPrintable(error));
        launch();
        auto *discover = widget<QPushButton>("discoverButton");
        auto *scan = widget<QPushButton>("ipRangeButton");
        auto *range = widget<QLineEdit>("ipRangeTextBox");
        QCOMPARE(discover->text(), u"Discovering..."_s);
        QVERIFY(!discover->isEnabled() && scan->isEnabled());

        QVERIFY(waitUntil([&] { return discover->isEnabled(); }));
        QCOMPARE(discover->text(), u"Discover (Local Network)"_s);
        QCOMPARE(column(0), (QStringList{u"corva-w"_s, u"gw-w"_s}));
        QVERIFY(!widget<QWidget>("progressIndicator")->isVisible());

        const QColor normal = range->palette().color(QPalette::Text);
        range->setText(u"127.0.10.0/33"_s);
        QTest::keyClick(range, Qt::Key_Return);
        QCOMPARE(range->palette().color(QPalette::Text).rgba(), systemOrangeColor);
        QCOMPARE(scan->text(), u"IP Range Scan"_s);

        range->setText(u"127.0.10.0/30"_s);
        QTest::keyClick(range, Qt::Key_Return);
        QCOMPARE(range->palette().color(QPalette::Text), normal);
        QCOMPARE(scan->text(), u"Scanning..."_s);
        QVERIFY(!scan->isEnabled() && !discover->isEnabled());
        QCOMPARE(widget<QLabel>("progressLabel")->text(), u"Probed 0 of 4 addresses, 0 devices found"_s);
        QVERIFY(widget<QLabel>("progressLabel")->isVisible());

        QVERIFY(waitUntil([&] { return scan->isEnabled(); }));
        QCOMPARE(scan->text(), u"IP Range Scan"_s);
        QVERIFY(discover->isEnabled());
        QVERIFY(!widget<QLabel>("progressLabel")->isVisible());
        QCOMPARE(column(0), (QStringList{u"corva-w"_s, u"gw-w"_s}));
    }

    // The Stop button is there only during a run; it and Escape end the run at once, the
    // devices listed before it kept, and a new run may start at once.
    void stopDuringARun()
    {
        launch();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        auto *stop = widget<QPushButton>("stopButton");
        auto *stopAction = widget<QAction>("stopAction");
        auto *discover = widget<QPushButton>("discoverButton");
        auto *scan = widget<QPushButton>("ipRangeButton");
        QVERIFY(stop->isVisible() && stop->isEnabled() && stopAction->isEnabled());
        controller()->addDevice(record(device(u"kept"_s, u"1"_s, u"02:00:00:00:00:01"_s)));

        QTest::keyClick(m_window.get(), Qt::Key_Escape);
        QVERIFY(!stop->isVisible() && !stopAction->isEnabled());
        QVERIFY(discover->isEnabled() && scan->isEnabled());
        QCOMPARE(discover->text(), u"Discover (Local Network)"_s);
        QVERIFY(!widget<QWidget>("progressIndicator")->isVisible());

        // Nothing listens on these addresses, but the stop comes before the scan can end.
        widget<QLineEdit>("ipRangeTextBox")->setText(u"127.0.14.0/24"_s);
        scan->click();
        QVERIFY(stop->isVisible());
        QCOMPARE(scan->text(), u"Scanning..."_s);
        stop->click();
        QVERIFY(!stop->isVisible() && scan->isEnabled() && discover->isEnabled());
        QCOMPARE(scan->text(), u"IP Range Scan"_s);
        QCOMPARE(column(0), QStringList{u"kept"_s});
        // The stopped runs wind down on their own; the next test forks, which the thread
        // sanitizer allows only while no run's work is still blocked.
        QTRY_VERIFY_WITH_TIMEOUT(m_delegate->rootViewController().use_count() == 1, 20'000);
    }

    // The tool itself: quitting while a discovery run waits for replies ends it at once,
    // with status 0.
    void quitDuringARun()
    {
        QTemporaryDir home;
        QProcess tool;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"HOME"_s, home.path());
        environment.insert(u"XDG_CONFIG_HOME"_s, home.filePath(u".config"_s));
        environment.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        tool.setProcessEnvironment(environment);
        tool.start(QStringLiteral(DEVICEFINDER), {u"--broadcast"_s, loopbackBroadcast});
        QVERIFY(tool.waitForStarted());
        QByteArray log;
        QVERIFY(waitUntil([&] {
            log += tool.readAllStandardError();
            return log.contains("Waiting for discovery responses...");
        }));
        QElapsedTimer clock;
        clock.start();
        ::kill(pid_t(tool.processId()), SIGTERM);
        QVERIFY(tool.waitForFinished(5'000));
        QVERIFY2(clock.elapsed() < 1'000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), 0);
    }

private:
    // Opens the window at (40, 30) as the tool does; its first discovery run starts.
    void launch()
    {
        m_window = std::make_unique<MainWindow>();
        m_window->move(40, 30);
        m_delegate = std::make_unique<AppDelegate>(
            [](MainViewController &controller) { return new MainView(controller); }, loopbackBroadcast,
            std::make_shared<TableResolver>());
        m_delegate->setWindow(m_window.get());
        m_window->show();
        m_delegate->applicationDidFinishLaunching();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    // The window without its start-up discovery run, for the table's own tests.
    void quietWindow()
    {
        m_window = std::make_unique<MainWindow>();
        auto controller = std::make_shared<MainViewController>(loopbackBroadcast, std::make_shared<TableResolver>());
        controller->setViewLoader([](MainViewController &c) { return new MainView(c); });
        controller->setDiscovering(true); // so loading the view starts no run
        m_window->setContentView(controller->view());
        controller->setDiscovering(false);
        m_delegate = std::make_unique<AppDelegate>(nullptr, loopbackBroadcast, nullptr);
        m_delegate->setRootViewController(controller);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    MainViewController *controller() const { return m_delegate->rootViewController().get(); }
    template <typename Widget>
    Widget *widget(const char *name) const
    {
        auto *found = m_window->findChild<Widget *>(QString::fromLatin1(name));
        if (!found)
            qFatal("no widget %s", name);
        return found;
    }
    QTableView *table() const { return widget<QTableView>("tableView"); }
    QModelIndex cell(int row, int column) const { return table()->model()->index(row, column); }

    QStringList rowTexts(int row) const
    {
        QStringList texts;
        for (int c = 0; c < table()->model()->columnCount(); ++c)
            texts.append(cell(row, c).data().toString());
        return texts;
    }
    QStringList column(int c) const
    {
        QStringList texts;
        for (int row = 0; row < table()->model()->rowCount(); ++row)
            texts.append(cell(row, c).data().toString());
        return texts;
    }
    void clickHeader(int section) const
    {
        QHeaderView *header = table()->horizontalHeader();
        const QPoint at(header->sectionViewportPosition(section) + header->sectionSize(section) / 2, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    }
    void clickOpen(int row) const
    {
        table()->scrollTo(cell(row, 7));
        QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, table()->visualRect(cell(row, 7)).center());
    }

    QTemporaryDir m_config;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<AppDelegate> m_delegate;
    std::unique_ptr<DeviceSim> m_sim;
    QList<QUrl> m_opened;
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
