#include "app/appdelegate.h"
#include "settings/rowactions.h"
#include "history/devicehistory.h"
#include "history/presencelog.h"
#include "labels/devicelabels.h"
#include "model/devicecolumns.h"
#include "platform/addresstext.h"
#include "platform/preferences.h"
#include "support/devices.h"
#include "support/files.h"
#include "support/tableresolver.h"
#include "ui/discoveryreportdialog.h"
#include "ui/elidedlabel.h"
#include "ui/exportfile.h"
#include "ui/mainview.h"
#include "ui/mainwindow.h"
#include "ui/takesettingsdialog.h"
#include "ui/missingdevicesdialog.h"
#include "ui/windowpalette.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFont>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

#include <net/if.h>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

QJsonObject device(const QString &hostname, const QString &serial, const QString &mac)
{
    return {{u"hostname"_s, hostname}, {u"serialNumber"_s, serial}, {u"macAddress"_s, mac},
            {u"redirectAddress"_s, hostname + u".example"_s}};
}

Device at(const QString &name, const QString &mac, const QString &address)
{
    QJsonObject object = device(name, u"1"_s, mac);
    object.insert(u"ipAddress"_s, address);
    return record(object);
}

// The text a label shows, rich or plain.
QString shownText(const QString &text)
{
    QTextDocument document;
    Qt::mightBeRichText(text) ? document.setHtml(text) : document.setPlainText(text);
    return document.toPlainText();
}

// Each notification as "summary: plain body".
class Notices final : public ChangeNotifier {
public:
    void notify(const QString &summary, const QString &, const QString &plainBody) override
    {
        shown.append(summary + u": "_s + plainBody);
    }
    QStringList shown;
};

} // namespace

// The real window, offscreen, its broadcasts on loopback (so it holds the protocols' ports' lock).
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
            QTRY_VERIFY_WITH_TIMEOUT(!m_delegate->rootViewController()->discovering(), 30'000);
        m_window.reset();
        m_delegate.reset();
    }

    // What the cells show of a record, and that no cell can be selected.
    void cells()
    {
        quietWindow();
        controller()->addDevice(record({{u"hostname"_s, u"corva-a"_s}, {u"serialNumber"_s, 10391234567.0},
                                        {u"tag"_s, u"[none]"_s}, {u"sha"_s, u"c0ffee4d2b"_s},
                                        {u"uptime"_s, u"1d 02:03:04"_s}, {u"redirectAddress"_s, u"corva-a"_s}}));
        controller()->addDevice(record({{u"hostname"_s, u"<b>x</b>"_s}, {u"tag"_s, u"<img src=x.png>"_s}}));
        controller()->search({}); // lists them all and reloads

        QCOMPARE(rowTexts(0), (QStringList{u"corva-a"_s, u"10391234567"_s, {}, {}, u"c0ffee4"_s, {}, u"1d 02:03:04"_s,
                                          {}, u"Open"_s}));
        // Device texts are never markup, in a cell or in its tooltip.
        for (int column : {0, 4})
            QCOMPARE(shownText(cell(1, column).data(Qt::ToolTipRole).toString()), cell(1, column).data().toString());
        QCOMPARE(cell(1, 4).data().toString(), u"<img src=x.png>"_s);
        QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, table()->visualRect(cell(0, 0)).center());
        QTest::keyClick(table(), Qt::Key_Down, Qt::ShiftModifier);
        QVERIFY(!table()->selectionModel()->hasSelection());
        clickOpen(1); // no address to open
        QVERIFY(m_opened.isEmpty());

        // A text of thousands of characters shows its first 63 (an emoji whole) and "…"; its
        // tooltip, a screen reader and the search have it whole.
        const QString longName = QString(62, u'é') + u"\U0001F600"_s + QString(3000, u'x') + u" tail"_s;
        controller()->addDevice(record({{u"hostname"_s, longName}}));
        controller()->search(u"tail"_s);
        QCOMPARE(cell(0, 0).data().toString(), QString(62, u'é') + u"\U0001F600\u2026"_s);
        QCOMPARE(shownText(cell(0, 0).data(Qt::ToolTipRole).toString()), longName);
        QCOMPARE(cell(0, 0).data(Qt::AccessibleTextRole).toString(), longName);
    }

    // Header clicks sort, earlier columns breaking ties; "Open" opens its row's device; typing
    // filters at once (in the order of adding); an export writes the rows as shown.
    void sortOpenFilterAndExport()
    {
        quietWindow();
        for (const QJsonObject &object :
             {device(u"b"_s, u"2"_s, u"02:00:00:00:00:01"_s), device(u"a"_s, u"1"_s, u"02:00:00:00:00:02"_s),
              device(u"c"_s, u"1"_s, u"02:00:00:00:00:03"_s), device(u"a"_s, u"2"_s, u"02:00:00:00:00:04"_s)})
            controller()->addDevice(record(object));
        controller()->search({}); // lists them all and reloads

        clickHeader(0);
        clickHeader(1); // serial numbers, ties by host name
        QCOMPARE(column(0), (QStringList{u"a"_s, u"c"_s, u"a"_s, u"b"_s}));
        QCOMPARE(column(1), (QStringList{u"1"_s, u"1"_s, u"2"_s, u"2"_s}));
        clickHeader(1); // the second click turns it
        QCOMPARE(column(0), (QStringList{u"a"_s, u"b"_s, u"a"_s, u"c"_s}));
        QCOMPARE(table()->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
        clickHeader(openColumn); // the buttons do not sort
        QCOMPARE(table()->horizontalHeader()->sortIndicatorSection(), 1);
        clickOpen(1);
        QCOMPARE(m_opened, (QList<QUrl>{QUrl(u"http://b.example"_s)}));

        QTest::keyClicks(widget<QLineEdit>("search"), u"A"_s);
        QCOMPARE(column(1), (QStringList{u"1"_s, u"2"_s}));
        const QString path = m_config.filePath(u"shown.json"_s);
        QVERIFY(writeExportFile(path, controller()->filteredDevices()));
        QCOMPARE(QJsonDocument::fromJson(readFile(path)).array(),
                 (QJsonArray{device(u"a"_s, u"1"_s, u"02:00:00:00:00:02"_s),
                             device(u"a"_s, u"2"_s, u"02:00:00:00:00:04"_s)}));
        QVERIFY(!writeExportFile(m_config.filePath(u"no-such-folder/rows.csv"_s), {}));
    }

    // A label follows the MAC address: edited in place (F2, Return keeps, Escape cancels), found
    // by the search, sorted, kept in the labels file; the editor takes no more than 200 characters.
    void labels()
    {
        quietWindow();
        const QString path = m_config.filePath(u"labels.json"_s);
        QFile::remove(path);
        controller()->setLabelsFile(path);
        controller()->addDevice(record(device(u"b"_s, u"2"_s, u"02:00:00:00:00:0b"_s)));
        controller()->addDevice(record(device(u"a"_s, u"1"_s, u"02:00:00:00:00:0A"_s)));
        controller()->search({});
        const auto type = [&](int row, const QString &text, Qt::Key end) {
            table()->setFocus();
            table()->setCurrentIndex(cell(row, labelColumn));
            QTest::keyClick(table(), Qt::Key_F2);
            auto *editor = qobject_cast<QLineEdit *>(table()->indexWidget(cell(row, labelColumn)));
            QVERIFY(editor);
            editor->selectAll();
            QTest::keyClicks(editor, text);
            QTest::keyClick(editor, end);
            QCoreApplication::processEvents(); // the editor commits once the key is handled
        };
        type(1, u"Roof gateway"_s, Qt::Key_Return);
        type(0, u"nothing kept"_s, Qt::Key_Escape);
        QCOMPARE(column(labelColumn), (QStringList{QString(), u"Roof gateway"_s}));
        QCOMPARE(DeviceLabels(path).label(u"02:00:00:00:00:0a"_s), u"Roof gateway"_s);

        clickHeader(labelColumn);
        QCOMPARE(column(0), (QStringList{u"b"_s, u"a"_s})); // no label first
        QTest::keyClicks(widget<QLineEdit>("search"), u"ROOF"_s);
        QCOMPARE(column(0), QStringList{u"a"_s});

        type(0, QString(201, u'x'), Qt::Key_Return);
        QCOMPARE(cell(0, labelColumn).data(Qt::EditRole).toString(), QString(200, u'x'));
    }

    // The row menu acts on its row's device wherever a reload put it, and on nothing once it is gone.
    void rowMenuHoldsItsDevice_data()
    {
        QTest::addColumn<bool>("gone"); // else the rows are sorted anew while the menu is open
        QTest::addColumn<QList<QUrl>>("opened");
        QTest::newRow("reordered") << false << QList<QUrl>{QUrl(u"http://b.example"_s)};
        QTest::newRow("gone") << true << QList<QUrl>();
    }
    void rowMenuHoldsItsDevice()
    {
        QFETCH(bool, gone);
        quietWindow();
        const Device a = record(device(u"a"_s, u"1"_s, u"02:00:00:00:00:0a"_s));
        const Device c = record(device(u"c"_s, u"1"_s, u"02:00:00:00:00:0c"_s));
        for (const Device &listed : {record(device(u"b"_s, u"1"_s, u"02:00:00:00:00:0b"_s)), a, c})
            controller()->addDevice(listed);
        controller()->search({});
        QTimer::singleShot(0, this, [&] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            QVERIFY(menu && menu->objectName() == u"rowMenu");
            controller()->setVudiduDevices({a, c});
            if (gone)
                controller()->pruneToFoundDevices();
            else
                table()->horizontalHeader()->setSortIndicator(0, Qt::AscendingOrder);
            QCOMPARE(column(0).first(), u"a"_s); // b's row shows another device now
            menu->actions().first()->trigger(); // "Open in Browser"
            menu->close();
        });
        emit table()->customContextMenuRequested(table()->visualRect(cell(0, 0)).center()); // b's row
        QTEST(m_opened, "opened");
    }

    // "Don't Watch" is kept with the labels, and shows checked the next time.
    void dontWatch()
    {
        quietWindow();
        controller()->setLabelsFile(m_config.filePath(u"watch.json"_s));
        controller()->addDevice(record(device(u"a"_s, u"1"_s, u"02:00:00:00:00:0a"_s)));
        controller()->search({});
        for (const bool left : {false, true}) {
            QTimer::singleShot(0, this, [&] {
                auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
                auto *action = menu ? menu->findChild<QAction *>(u"dontWatchAction"_s) : nullptr;
                QVERIFY(action && action->isChecked() == left);
                action->trigger();
                menu->close();
            });
            emit table()->customContextMenuRequested(table()->visualRect(cell(0, 0)).center());
            QCOMPARE(controller()->isRowWatched(0), left);
        }
        QVERIFY(DeviceLabels(m_config.filePath(u"watch.json"_s)).isWatched(u"02:00:00:00:00:0a"_s));
    }

    // A label being typed stays open across reloads, on its device's row, with what was typed.
    void labelEditorHoldsItsDevice()
    {
        quietWindow();
        const QString path = m_config.filePath(u"held.json"_s);
        controller()->setLabelsFile(path);
        for (const QString &name : {u"b"_s, u"a"_s, u"c"_s})
            controller()->addDevice(record(device(name, u"1"_s, u"02:00:00:00:00:0"_s + name)));
        controller()->search({});
        const auto editor = [&](int row) { return qobject_cast<QLineEdit *>(table()->indexWidget(cell(row, labelColumn))); };
        table()->setCurrentIndex(cell(0, labelColumn));
        QTest::keyClick(table(), Qt::Key_F2);
        QVERIFY(editor(0));
        QTest::keyClicks(editor(0), u"Roof"_s);
        controller()->search({});
        table()->horizontalHeader()->setSortIndicator(0, Qt::AscendingOrder); // b moves down
        QVERIFY(!editor(0) && editor(1));
        QTest::keyClicks(editor(1), u" gateway"_s); // the cursor where it was, nothing selected
        QTest::keyClick(editor(1), Qt::Key_Return);
        QCoreApplication::processEvents();
        QCOMPARE(DeviceLabels(path).label(u"02:00:00:00:00:0b"_s), u"Roof gateway"_s);
    }

    // A device never seen before is in bold (not on the first run: nothing to compare with), one
    // at another address in italics, the old address in its tooltip; the line under the table
    // counts them (a stopped run judges nobody missing).
    void historyMarks()
    {
        const QString path = m_config.filePath(u"history.json"_s);
        QFile::remove(path);
        quietWindow();
        controller()->setHistoryFile(path);
        controller()->startDiscovery();
        controller()->addIfNew(at(u"first"_s, u"02:00:00:00:00:09"_s, u"10.0.0.9"_s), ProbeKind::DeviceInfo);
        QTRY_VERIFY_WITH_TIMEOUT(!controller()->discovering(), 15'000);
        QCOMPARE(column(0), QStringList{u"first"_s});
        QVERIFY(!cell(0, 0).data(Qt::FontRole).isValid());

        DeviceHistory history;
        history.record({at(u"kept"_s, u"02:00:00:00:00:01"_s, u"10.0.0.1"_s), at(u"moved"_s, u"02:00:00:00:00:02"_s, u"10.0.0.2"_s)},
                       true, QDateTime::currentDateTimeUtc().addSecs(-60));
        QVERIFY(history.save(path));
        quietWindow();
        controller()->setHistoryFile(path);
        controller()->startDiscovery();
        controller()->addIfNew(at(u"kept"_s, u"02:00:00:00:00:01"_s, u"10.0.0.1"_s), ProbeKind::DeviceInfo);
        controller()->addIfNew(at(u"moved"_s, u"02:00:00:00:00:02"_s, u"10.0.0.9"_s), ProbeKind::DeviceInfo);
        controller()->addIfNew(at(u"<b>new</b>"_s, u"02:00:00:00:00:03"_s, u"10.0.0.3"_s), ProbeKind::XpicoData);
        controller()->stopRun();

        QCOMPARE(column(0), (QStringList{u"kept"_s, u"moved"_s, u"<b>new</b>"_s}));
        const auto font = [&](int row) { return cell(row, 0).data(Qt::FontRole).value<QFont>(); };
        QVERIFY(!cell(0, 0).data(Qt::FontRole).isValid());
        QVERIFY(font(1).italic() && !font(1).bold());
        QVERIFY(cell(1, 0).data(Qt::ToolTipRole).toString().contains(u"last seen at 10.0.0.2"_s));
        QVERIFY(font(2).bold());
        QVERIFY(cell(2, 0).data(Qt::ToolTipRole).toString().contains(u"New"_s));
        auto *line = widget<QLabel>("historyLine");
        QVERIFY(line->isVisible());
        QVERIFY2(shownText(line->text()).startsWith(u"3 devices \u00b7 1 new \u00b7 1 moved since "_s), qPrintable(line->text()));
    }

    // History... shows the device's past from the presence log beside the history: each
    // strip's summary for a screen reader, and its events.
    void deviceHistory()
    {
        QVERIFY(QDir().mkpath(m_config.filePath(u"past"_s)));
        const QDateTime now = QDateTime::currentDateTimeUtc();
        QByteArray lines;
        for (const auto &[event, hours] : {std::pair{"new", 30}, {"missing", 10}, {"back", 4}})
            lines += presenceLine({now.addSecs(-3600 * hours), QString::fromLatin1(event), u"02:00:00:00:00:0a"_s,
                                   u"10.0.0.1"_s, {}, std::nullopt, u"window"_s, {}}) + '\n';
        QVERIFY(writeFile(m_config.filePath(u"past/events.jsonl"_s), lines));
        quietWindow();
        controller()->setHistoryFile(m_config.filePath(u"past/history.json"_s));
        controller()->addDevice(record(device(u"a"_s, u"1"_s, u"02:00:00:00:00:0a"_s)));
        controller()->search({});
        QTimer::singleShot(0, this, [&] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            auto *action = menu ? menu->findChild<QAction *>(u"historyAction"_s) : nullptr;
            QVERIFY(action && action->isEnabled());
            action->trigger();
            menu->close();
        });
        emit table()->customContextMenuRequested(table()->visualRect(cell(0, 0)).center());
        auto *dialog = m_window->findChild<QDialog *>(u"deviceHistory"_s);
        QTRY_VERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->findChild<QWidget *>(u"dayStrip"_s)->accessibleName(),
                 u"Present 18 h 0 min of the last 24 hours; missing once"_s);
        QCOMPARE(dialog->findChild<QWidget *>(u"weekStrip"_s)->accessibleName(),
                 u"Present 1 d 0 h of the last 7 days; missing once"_s);
        QCOMPARE(dialog->findChild<QListWidget *>(u"historyEvents"_s)->count(), 3);
        dialog->close();
    }

    // While watching, the line says what the watch rule says (missing after one run here, since
    // it was last seen, its link listing them; new since the previous run). A flapping device
    // stays out of the list, one not watched out of it and of every notification.
    void watchedLine()
    {
        quietWindow();
        QCoreApplication::processEvents(); // the view's own watch choice comes first
        const QString path = m_config.filePath(u"watched-history.json"_s);
        QFile::remove(path);
        controller()->setHistoryFile(path);
        const QString labels = m_config.filePath(u"unwatched.json"_s);
        QCOMPARE(DeviceLabels(labels).setWatched(u"02:00:00:00:00:0c"_s, false), QString());
        controller()->setLabelsFile(labels);
        const auto notices = std::make_shared<Notices>();
        view()->setNotifier(notices);
        const Device flapper = record(device(u"flapper"_s, u"1"_s, u"02:00:00:00:00:0a"_s));
        const Device gone = record(device(u"gone"_s, u"1"_s, u"02:00:00:00:00:0b"_s));
        const Device unwatched = record(device(u"unwatched"_s, u"1"_s, u"02:00:00:00:00:0c"_s));
        const Device kept = record(device(u"kept"_s, u"1"_s, u"02:00:00:00:00:0d"_s));
        const Device fresh = record(device(u"fresh"_s, u"1"_s, u"02:00:00:00:00:0e"_s));
        view()->setWatching(true, std::chrono::hours(1), {.missingAfter = 1, .flapChanges = 2});
        for (const DeviceList &found : {DeviceList{flapper, gone, unwatched, kept}, DeviceList{unwatched, kept},
                                        DeviceList{flapper, kept}, DeviceList{kept, fresh}}) {
            if (!controller()->discovering())
                controller()->startDiscovery();
            for (const Device &listed : found)
                controller()->addIfNew(listed, ProbeKind::DeviceInfo);
            QTRY_VERIFY_WITH_TIMEOUT(!controller()->discovering(), 15'000);
        }
        view()->setWatching(false, {});
        QCOMPARE(notices->shown, (QStringList{u"2 devices missing: 2 devices missing: flapper, gone"_s,
                                              u"1 device flapping: 1 device flapping: flapper"_s,
                                              u"1 new device: 1 new device: fresh"_s}));
        const QString shown = shownText(widget<QLabel>("historyLine")->text());
        static const QRegularExpression line(u"^2 devices \u00b7 1 new since [^\u00b7]+ \u00b7 1 missing since [^\u00b7]+$"_s);
        QVERIFY2(line.match(shown).hasMatch(), qPrintable(shown));
        QVERIFY(widget<QLabel>("historyLine")->text().contains(u"<a href=\"#\">1 missing</a>"_s));
        QCOMPARE(controller()->latestChanges().missing.size(), 1);
        QCOMPARE(controller()->latestChanges().missing.first().record, gone);
    }

    // The watch's events carry the time the history records the round at, not the clock: with
    // the history's latest time ahead of the clock, that time.
    void watchEventsTakeTheHistorysTime()
    {
        quietWindow();
        QCoreApplication::processEvents(); // the view's own watch choice comes first
        const QString path = m_config.filePath(u"ahead/history.json"_s);
        const QDateTime ahead = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch()).toUTC().addDays(365);
        DeviceHistory history;
        history.record({at(u"gone"_s, u"02:00:00:00:00:1a"_s, u"10.0.0.1"_s)}, true, ahead);
        QVERIFY(history.save(path));
        controller()->setHistoryFile(path);
        view()->setWatching(true, std::chrono::hours(1), {.missingAfter = 1});
        for (const DeviceList &found : {DeviceList{at(u"fresh"_s, u"02:00:00:00:00:1b"_s, u"10.0.0.2"_s)}, DeviceList{}}) {
            if (!controller()->discovering())
                controller()->startDiscovery();
            for (const Device &listed : found)
                controller()->addIfNew(listed, ProbeKind::DeviceInfo);
            QTRY_VERIFY_WITH_TIMEOUT(!controller()->discovering(), 15'000);
        }
        view()->setWatching(false, {});
        const QList<PresenceEvent> events =
            PresenceLog(controller()->presenceLogPath()).events([](const PresenceEvent &event) { return event.source == u"window"; }, nullptr);
        QVERIFY(!events.isEmpty());
        for (const PresenceEvent &event : events)
            QCOMPARE(event.time, ahead);
    }

    // A range box that cannot be expanded turns orange and is said under the table and in the
    // tooltip; the broadcast, when chosen, goes on; the range alone waits until it can be
    // expanded, read again each round.
    void watchedRangeCannotBeExpanded_data()
    {
        QTest::addColumn<bool>("localNetwork");
        QTest::addColumn<QString>("said");
        QTest::addColumn<QString>("watching");
        const QString problem = u": range 1: \"127.0.14.0/33\" cannot be expanded"_s;
        QTest::newRow("with the broadcast") << true << u"the range cannot be watched"_s + problem
                                            << u"Watching the local network"_s;
        QTest::newRow("alone") << false << u"nothing is watched until the range can be"_s + problem
                               << u"Watching nothing until the range can be expanded"_s;
    }
    void watchedRangeCannotBeExpanded()
    {
        QFETCH(bool, localNetwork);
        quietWindow();
        QCoreApplication::processEvents(); // the view's own watch choice comes first
        auto *range = widget<QLineEdit>("ipRangeTextBox");
        range->setText(u"127.0.14.0/33"_s);
        view()->setWatching(true, std::chrono::milliseconds(300), {}, {.localNetwork = localNetwork, .range = true});
        const auto unwatch = qScopeGuard([this] { view()->setWatching(false, {}); });
        QCOMPARE(range->palette().color(QPalette::Text), readableOrange(windowPalette(false)));
        QCOMPARE(controller()->discovering(), localNetwork);
        QTextDocument line;
        line.setHtml(widget<QLabel>("historyLine")->text());
        QTEST(line.toPlainText().section(u" \u00b7 "_s, -1), "said");
        QTEST(tipLine(), "watching");
        range->setText(u"127.0.22.0/30"_s);
        QTRY_COMPARE_WITH_TIMEOUT(tipLine(), localNetwork ? u"Watching the local network and 127.0.22.0/30"_s
                                                                   : u"Watching 127.0.22.0/30"_s, 15'000);
        QVERIFY(range->palette().color(QPalette::Text) != readableOrange(windowPalette(false)));
        QVERIFY(!widget<QLabel>("historyLine")->text().contains(u"range"_s));
    }

    // A round of the range alone judges the devices last seen inside it, and no other.
    void watchedRangeRound()
    {
        quietWindow();
        QCoreApplication::processEvents();
        const auto notices = std::make_shared<Notices>();
        view()->setNotifier(notices);
        widget<QLineEdit>("ipRangeTextBox")->setText(u"127.0.21.0/30"_s);
        controller()->startDiscovery(); // what the rounds are compared with
        controller()->addIfNew(at(u"inside"_s, u"02:00:00:00:00:0a"_s, u"127.0.21.1"_s), ProbeKind::DeviceInfo);
        controller()->addIfNew(at(u"elsewhere"_s, u"02:00:00:00:00:0b"_s, u"10.0.0.1"_s), ProbeKind::DeviceInfo);
        view()->setWatching(true, std::chrono::milliseconds(200), {.missingAfter = 1}, {.localNetwork = false, .range = true});
        const auto unwatch = qScopeGuard([this] { view()->setWatching(false, {}); });
        QTRY_COMPARE_WITH_TIMEOUT(notices->shown, QStringList{u"1 device missing: 1 device missing: inside"_s}, 30'000);
    }

    // A run that nobody answered says so under the table; its "Details" shows the report.
    void reportLine()
    {
        quietWindow();
        controller()->startDiscovery();
        QTRY_VERIFY_WITH_TIMEOUT(!controller()->discovering(), 15'000);
        auto *line = widget<QLabel>("reportLine");
        QVERIFY(line->isVisible());
        QCOMPARE(shownText(line->text()), u"No device answered the discovery broadcasts \u2014 Details"_s);
        emit line->linkActivated(u"#"_s);
        auto *dialog = m_window->findChild<DiscoveryReportDialog *>();
        QTRY_VERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->findChild<QPlainTextEdit *>()->toPlainText(), controller()->latestReport()->toText());
        QVERIFY(controller()->latestReport()->toText().contains(u"No device answered the discovery broadcasts"_s));
    }

    // The missing devices' and the report's dialogs: device texts as they are, "Open" only for an
    // address, "Copy" of the report as it stands.
    void dialogs()
    {
        const QDateTime seen = QDateTime::currentDateTimeUtc();
        const auto entry = [&](const QString &hostname, const QString &address) {
            return HistoryEntry{record({{u"hostname"_s, hostname}}), address, seen, seen};
        };
        MissingDevicesDialog missing({entry(u"<b>lobby</b>\u001b[2J"_s, u"198.18.0.7"_s), entry(u"hall"_s, u"evil.example/x"_s)},
                                     seen);
        const auto *table = missing.findChild<QTableWidget *>();
        QCOMPARE((QStringList{table->item(0, 0)->text(), table->item(0, 2)->text()}),
                 (QStringList{u"<b>lobby</b>\u001b[2J"_s, u"198.18.0.7"_s}));
        QVERIFY(!table->cellWidget(1, 4)->isEnabled());
        qobject_cast<QPushButton *>(table->cellWidget(0, 4))->click();
        QCOMPARE(m_opened, (QList<QUrl>{QUrl(u"http://198.18.0.7"_s)}));

        MainWindow window;
        auto *help = window.findChild<QAction *>(u"discoveryReportAction"_s);
        DiscoveryReport report({{u"<b>eth1</b>"_s, 2, IFF_UP, 0xC0A80702, 24}}, 0);
        report.noteResponder(DiscoveryProtocol::Corva, addressFromText(u"10.0.0.50"), 2);
        report.noteProbed(DiscoveryProtocol::Corva, addressFromText(u"10.0.0.50"), {ProbeOutcome::Kind::NoAnswer});
        window.setDiscoveryReport([report] { return report; });
        help->trigger();
        auto *dialog = window.findChild<DiscoveryReportDialog *>();
        QTRY_VERIFY(dialog && dialog->isVisible());
        const QString shown = dialog->findChild<QPlainTextEdit *>()->toPlainText();
        QVERIFY(shown.contains(u"10.0.0.50 answered on <b>eth1</b> (192.168.7.2/24)"_s));
        dialog->findChild<QPushButton *>(u"copyButton"_s)->click();
        QCOMPARE(QApplication::clipboard()->text(), shown);
    }

    // Import Settings... lists each action's name and whole command as a terminal shows them,
    // and the watch choices of devices known here, takes them only when asked (not taking them
    // the default), then says what it took, and what not: its unknown keys too.
    void importSettings()
    {
        QFile::remove(rowActionsPath());
        QFile::remove(DeviceLabels::defaultPath());
        QVERIFY(DeviceLabels(DeviceLabels::defaultPath()).setLabel(u"02:00:00:00:00:0b"_s, u"Boiler"_s).isEmpty());
        const QTemporaryDir dir;
        const QString path = dir.filePath(u"settings.json"_s);
        QVERIFY(writeFile(path, R"({"format": "devicefinder-settings", "version": 1, "x": 1,
                                    "labels": [{"macAddress": "02:00:00:00:00:0a", "label": "Roof"},
                                               {"macAddress": "02:00:00:00:00:0b", "watch": false}],
                                    "actions": [{"name": "Ping", "command": ["sh", "-c", "ping {address}\u202e"]}]})"));
        const QString listed = u"Ping\n    sh -c \"ping {address}\\u202e\"\n"_s;
        const QString named = uR"(action "Ping" %1: sh -c "ping {address}\u202e")"_s;
        const QString unknown = u"\nunknown key \"x\", not used"_s;
        MainWindow window;
        for (const bool take : {false, true}) {
            QStringList shown; // what each dialog said, in turn
            QTimer answer;
            connect(&answer, &QTimer::timeout, this, [&] {
                if (auto *ask = qobject_cast<TakeSettingsDialog *>(QApplication::activeModalWidget())) {
                    shown.append(ask->findChild<QPlainTextEdit *>()->toPlainText());
                    if (take)
                        ask->accept();
                    else
                        QTest::keyClick(ask, Qt::Key_Return); // the default
                } else if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                    shown.append(box->text());
                    box->accept();
                }
            });
            answer.start(50);
            window.importSettingsFrom(path);
            QCOMPARE(shown.size(), 3);
            QCOMPARE(shown.first(), listed);
            QCOMPARE(shown.at(1), u"watch 02:00:00:00:00:0b: kept on, not off\n"_s);
            QCOMPARE(shown.last(), take ? u"Taken in: 1 watch choice, 1 action.\n"_s + named.arg(u"taken in"_s)
                                              + u"\nwatch 02:00:00:00:00:0b taken in: off\n\nNot taken in:"_s + unknown
                                        : u"Taken in: 1 label.\n\nNot taken in:\nwatch 02:00:00:00:00:0b: kept on, not off\n"_s
                                              + named.arg(u"not taken in"_s) + unknown);
            QCOMPARE(readRowActions(rowActionsPath()).actions.size(), take ? 1 : 0);
        }
        QCOMPARE(DeviceLabels(DeviceLabels::defaultPath()).label(u"02:00:00:00:00:0a"_s), u"Roof"_s);
        QVERIFY(!DeviceLabels(DeviceLabels::defaultPath()).isWatched(u"02:00:00:00:00:0b"_s));
        QFile::remove(rowActionsPath()); // the later tests' row menus show none, and they watch every device
        QFile::remove(DeviceLabels::defaultPath());
    }

    // At start-up: the range from the preferences, the discovery run under way, the window's
    // width. Stop shows only during a run; it and Escape end it at once, keeping what was listed.
    void startUpAndStop_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("shown");
        QTest::newRow("first start") << QString() << u"192.168.1.1/24"_s;
        QTest::newRow("a range scanned before") << u"127.0.10.0/30"_s << u"127.0.10.0/30"_s;
    }
    void startUpAndStop()
    {
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        if (!stored.isEmpty())
            Preferences::standard().setValue(LastScanAddressKey, stored);
        launch();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        auto *stop = widget<QPushButton>("stopButton");
        auto *stopAction = widget<QAction>("stopAction");
        auto *discover = widget<QPushButton>("discoverButton");
        auto *scan = widget<QPushButton>("ipRangeButton");
        auto *range = widget<QLineEdit>("ipRangeTextBox");
        QCOMPARE(range->text(), shown);
        QCOMPARE(discover->text(), u"Discovering..."_s);
        QVERIFY(!discover->isEnabled() && widget<QWidget>("progressIndicator")->isVisible());
        QCOMPARE(m_window->geometry().width(), 1000);
        QVERIFY(stop->isVisible() && stop->isEnabled() && stopAction->isEnabled());
        controller()->addDevice(record(device(u"kept"_s, u"1"_s, u"02:00:00:00:00:01"_s)));

        QTest::keyClick(m_window.get(), Qt::Key_Escape);
        QVERIFY(!stop->isVisible() && !stopAction->isEnabled());
        QVERIFY(discover->isEnabled() && scan->isEnabled());
        QVERIFY(!widget<QWidget>("progressIndicator")->isVisible());

        // An expression that cannot be expanded is not kept; the next scan is stopped.
        range->setText(u"127.0.14.0/33"_s);
        QTest::keyClick(range, Qt::Key_Return);
        QCOMPARE(Preferences::standard().value(LastScanAddressKey).toString(), shown);
        range->setText(u"127.0.14.0/24"_s);
        QTest::keyClick(range, Qt::Key_Return);
        QVERIFY(stop->isVisible() && !discover->isEnabled());
        QCOMPARE(scan->text(), u"Scanning..."_s);
        QCOMPARE(widget<ElidedLabel>("progressLabel")->fullText(), u"Probed 0 of 256 addresses, 0 devices found"_s);
        stop->click();
        QVERIFY(!stop->isVisible() && scan->isEnabled() && discover->isEnabled());
        QVERIFY(!widget<QLabel>("progressLabel")->isVisible());
        // The stopped runs wind down on their own, and nothing of them reaches the list.
        QTRY_VERIFY_WITH_TIMEOUT(m_delegate->rootViewController().use_count() == 1, 20'000);
        QCOMPARE(column(0), QStringList{u"kept"_s});
    }

    // Every text against its background at 4.5:1 at least, light and dark; the orange follows.
    void palettes()
    {
        quietWindow();
        auto *range = widget<QLineEdit>("ipRangeTextBox");
        range->setText(u"127.0.14.0/33"_s);
        QTest::keyClick(range, Qt::Key_Return);
        const auto luminance = [](const QColor &c) {
            const auto linear = [](float v) { return v <= 0.04045f ? v / 12.92f : std::pow((v + 0.055f) / 1.055f, 2.4f); };
            return 0.2126f * linear(c.redF()) + 0.7152f * linear(c.greenF()) + 0.0722f * linear(c.blueF()) + 0.05f;
        };
        for (const bool dark : {true, false}) {
            QApplication::setPalette(windowPalette(dark));
            const QPalette p = QApplication::palette();
            for (const QPalette::ColorRole under : {QPalette::Base, QPalette::AlternateBase, QPalette::Window})
                for (const QColor &text : {p.color(QPalette::Text), p.color(QPalette::Link), p.color(QPalette::PlaceholderText),
                                           p.color(QPalette::Disabled, QPalette::Text), readableOrange(p)}) {
                    const float a = luminance(text), b = luminance(p.color(under));
                    QVERIFY2(std::max(a, b) / std::min(a, b) >= 4.5f, qPrintable(text.name() + u" on "_s + p.color(under).name()));
                }
            QTRY_COMPARE(range->palette().color(QPalette::Text), readableOrange(p));
        }
    }

    // Return opens the current row's device; the Menu key its menu, Return beside Open in Browser.
    void keyboard()
    {
        quietWindow();
        for (const QString &name : {u"a"_s, u"b"_s})
            controller()->addDevice(record(device(name, u"1"_s, u"02:00:00:00:00:0"_s + name)));
        controller()->search({});
        table()->setCurrentIndex(cell(1, 2));
        QTest::keyClick(table(), Qt::Key_Return);
        QString shown;
        QTimer::singleShot(0, this, [&] {
            if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
                shown = menu->actions().first()->shortcut().toString();
                menu->actions().first()->trigger();
                menu->close();
            }
        });
        QTest::keyClick(table(), Qt::Key_Menu);
        QCOMPARE(shown, u"Return"_s);
        QCOMPARE(m_opened, (QList<QUrl>{QUrl(u"http://b.example"_s), QUrl(u"http://b.example"_s)}));
    }

    // Run > Watch and its choices as stored, a value the menu lacks one more item; watching
    // begins with the start-up run; a choice is stored as it is made, the others left. What
    // it watches: the broadcast at first, never nothing; the range box's range once chosen.
    void watchMenu()
    {
        Preferences::standard().setValue(u"Watch"_s, true);
        Preferences::standard().setValue(u"WatchIntervalMinutes"_s, 1440);
        Preferences::standard().setValue(u"LastScanAddress"_s, u"127.0.10.0/30"_s);
        launch();
        auto *watch = widget<QAction>("watchAction");
        auto *local = widget<QAction>("watchLocalNetworkAction");
        auto *range = widget<QAction>("watchRangeAction");
        QCOMPARE((QStringList{local->text(), range->text()}), (QStringList{u"Watch Local Network"_s, u"Watch the Range"_s}));
        QVERIFY(local->isChecked() && !range->isChecked());
        local->trigger(); // the only one on stays on
        QVERIFY(local->isChecked());
        range->trigger();
        local->trigger();
        QVERIFY(!local->isChecked() && range->isChecked() && !Preferences::standard().value(u"WatchLocalNetwork"_s).toBool()
                && Preferences::standard().value(u"WatchRange"_s).toBool());
        QCOMPARE(tipLine(), u"Watching 127.0.10.0/30"_s);
        const QList<QAction *> intervals = widget<QAction>("watchIntervalAction")->menu()->actions();
        const QList<QAction *> missingAfter = widget<QAction>("watchMissingAfterAction")->menu()->actions();
        QVERIFY(watch->isChecked() && intervals.size() == 5 && intervals.last()->isChecked() && missingAfter.at(1)->isChecked());
        QCOMPARE((QStringList{intervals.last()->text(), missingAfter.at(1)->text()}),
                 (QStringList{u"Every 1,440 Minutes"_s, u"2 Runs"_s}));
        QTRY_VERIFY(view()->isWatching());
        QVERIFY(controller()->discovering());
        missingAfter.at(3)->trigger();
        QCOMPARE(Preferences::standard().value(u"WatchIntervalMinutes"_s).toInt(), 1440);
        QCOMPARE(Preferences::standard().value(u"WatchMissingAfter"_s).toInt(), 5);
        intervals.at(0)->trigger();
        watch->trigger();
        QVERIFY(!view()->isWatching());
        QCOMPARE(Preferences::standard().value(u"Watch"_s).toBool(), false);
        QCOMPARE(Preferences::standard().value(u"WatchIntervalMinutes"_s).toInt(), 1);
        controller()->stopRun();
    }

private:
    // Opens the window as the tool does; its first discovery run starts.
    void launch()
    {
        m_window = std::make_unique<MainWindow>();
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
        m_window->setContentView(controller->view());
        m_delegate = std::make_unique<AppDelegate>(nullptr, loopbackBroadcast, nullptr);
        m_delegate->setRootViewController(controller);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    MainViewController *controller() const { return m_delegate->rootViewController().get(); }
    MainView *view() const { return m_window->findChild<MainView *>(); }
    // The tray's tooltip's first line: what is watched.
    QString tipLine() const { return m_window->findChild<QSystemTrayIcon *>()->toolTip().section(u'\n', 0, 0); }
    template <typename Widget>
    Widget *widget(const char *name) const
    {
        return m_window->findChild<Widget *>(QString::fromLatin1(name));
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
        table()->scrollTo(cell(row, openColumn));
        QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, table()->visualRect(cell(row, openColumn)).center());
    }

    QTemporaryDir m_config;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<AppDelegate> m_delegate;
    QList<QUrl> m_opened;
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
