#include "app/appdelegate.h"
#include "platform/preferences.h"
#include "support/logcapture.h"
#include "support/tableresolver.h"
#include "ui/mainview.h"
#include "ui/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusInterface>
#include <QLabel>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include <xcb/xcb.h>

#include <cstdlib>

using namespace Qt::StringLiterals;

// The window and its tray icon under a virtual X display, with a stand-in tray host on a
// session bus of their own (tools/traysession runs this); discovery broadcasts on loopback.
class TestTray final : public QObject {
    Q_OBJECT

private slots:
    // Run > Start at Login writes the autostart entry and takes it away. The icon shows only while
    // watching, its tooltip what it watches and the line under the table; closed from its frame, the window hides and
    // watching goes on; Activate shows it again; Ctrl+Q quits.
    void watchesInTheTray()
    {
        Preferences::standard().setValue(u"Watch"_s, false);
        m_window = std::make_unique<MainWindow>();
        m_delegate = std::make_unique<AppDelegate>([](MainViewController &c) { return new MainView(c); },
                                                   loopbackBroadcast, std::make_shared<TableResolver>());
        m_delegate->setWindow(m_window.get());
        m_window->show();
        m_delegate->applicationDidFinishLaunching();
        auto *start = m_window->findChild<QAction *>(u"startAtLoginAction"_s);
        start->trigger();
        QFile entry(qEnvironmentVariable("XDG_CONFIG_HOME") + u"/autostart/devicefinder.desktop"_s);
        QVERIFY(entry.open(QIODevice::ReadOnly) && entry.readAll().contains("\nExec=\"" + QCoreApplication::applicationFilePath().toUtf8() + "\" --hidden\n"));
        start->trigger();
        QVERIFY(!entry.exists() && !start->isChecked());

        QTest::qWait(500);
        QCOMPARE(items(), QStringList());
        m_window->findChild<QAction *>(u"watchAction"_s)->trigger();
        QTRY_COMPARE(items().size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(!m_delegate->rootViewController()->discovering(), 20'000);
        QCOMPARE(m_window->findChild<QSystemTrayIcon *>()->toolTip(),
                 u"Watching the local network\n"_s + m_window->findChild<QLabel *>(u"historyLine"_s)->text());

        // Within the event loop, where a close that was not refused would end it.
        const LogCapture log;
        m_window->findChild<MainView *>()->setWatching(true, std::chrono::milliseconds(200));
        QTimer::singleShot(0, this, &TestTray::closeFromFrame);
        QTimer::singleShot(3'000, qApp, [] { QCoreApplication::exit(7); });
        QCOMPARE(QApplication::exec(), 7);
        QVERIFY(m_window->isHidden() && Preferences::standard().value(u"TrayKeepsWatchingTold"_s).toBool());
        QVERIFY(log.lines().contains(u"Starting Corva discovery..."_s));
        QCOMPARE(items().size(), 1);

        QDBusConnection::sessionBus().send(QDBusMessage::createMethodCall(
            items().first(), u"/StatusNotifierItem"_s, u"org.kde.StatusNotifierItem"_s, u"Activate"_s) << 0 << 0);
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        QTimer::singleShot(0, this, [this] { QTest::keyClick(m_window.get(), Qt::Key_Q, Qt::ControlModifier); });
        QTimer::singleShot(10'000, qApp, [] { QCoreApplication::exit(1); });
        QCOMPARE(QApplication::exec(), 0);
    }

private:
    // As a window manager closes a window: WM_DELETE_WINDOW, which Qt takes for the user's close.
    void closeFromFrame() const
    {
        xcb_connection_t *x = qApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
        const auto atom = [x](const QByteArray &name) {
            std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
                xcb_intern_atom_reply(x, xcb_intern_atom(x, 0, name.size(), name.data()), nullptr), &std::free);
            return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        };
        const xcb_client_message_event_t message{.response_type = XCB_CLIENT_MESSAGE, .format = 32, .sequence = 0,
                                                 .window = xcb_window_t(m_window->winId()), .type = atom("WM_PROTOCOLS"),
                                                 .data = {.data32 = {atom("WM_DELETE_WINDOW")}}};
        xcb_send_event(x, 0, message.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&message));
        xcb_flush(x);
    }

    static QStringList items() // those the stand-in tray host holds
    {
        const QString host = u"org.kde.StatusNotifierWatcher"_s;
        return QDBusInterface(host, u"/StatusNotifierWatcher"_s, host).property("RegisteredStatusNotifierItems").toStringList();
    }

    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<AppDelegate> m_delegate;
};

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
