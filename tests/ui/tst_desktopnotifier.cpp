#include "support/logcapture.h"
#include "ui/desktopnotifier.h"

#include <QDBusConnection>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// A stand-in notification service: it names its capabilities and keeps each body it is given.
class Notifications final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList capabilities;
    QStringList bodies;

public slots:
    QStringList GetCapabilities() { return capabilities; }
    uint Notify(const QString &, uint, const QString &, const QString &, const QString &body, const QStringList &,
                const QVariantMap &, int)
    {
        bodies.append(body);
        return uint(bodies.size());
    }
};

} // namespace

// The session bus is chosen once a process, so each function runs alone (see tests/CMakeLists.txt).
class TestDesktopNotifier final : public QObject {
    Q_OBJECT

private slots:
    // Without a session bus, one log line says so, however many notifications are asked for.
    void withoutASessionBusOneLineOnce()
    {
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/devicefinder-test/bus");
        const LogCapture log;
        DesktopNotifier notifier;
        QSignalSpy activated(&notifier, &DesktopNotifier::activated);
        notifier.notify(u"1 new device"_s, u"1 new device: &lt;b&gt;"_s, u"1 new device: <b>"_s);
        notifier.notify(u"2 new devices"_s, u"2 new devices: a, b"_s, u"2 new devices: a, b"_s);
        QTRY_COMPARE(log.lines(), QStringList{u"No desktop notifications: there is no session bus"_s});
        notifier.notify(u"1 device back"_s, u"1 device back: a"_s, u"1 device back: a"_s);
        QTest::qWait(100);
        QCOMPARE(log.lines().size(), 1);
        QCOMPARE(activated.count(), 0);
    }

    // A service that takes body markup gets the escaped body; one that does not, the plain text.
    void theBodyFollowsTheService()
    {
        QTemporaryDir folder;
        QProcess bus;
        bus.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s,
                                     u"--address=unix:path="_s + folder.filePath(u"bus"_s)});
        QVERIFY(bus.waitForReadyRead(10'000));
        const QString address = QString::fromUtf8(bus.readLine().trimmed());
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
        QDBusConnection service = QDBusConnection::connectToBus(address, u"notifications"_s);
        Notifications notifications;
        QVERIFY(service.registerObject(u"/org/freedesktop/Notifications"_s, &notifications, QDBusConnection::ExportAllSlots));
        QVERIFY(service.registerService(u"org.freedesktop.Notifications"_s));

        const QString markup = u"1 new device: &lt;b&gt;x&lt;/b&gt;"_s;
        const QString plain = u"1 new device: <b>x</b>"_s;
        notifications.capabilities = QStringList{u"body"_s, u"body-markup"_s};
        DesktopNotifier takesMarkup;
        takesMarkup.notify(u"1 new device"_s, markup, plain);
        QTRY_COMPARE(notifications.bodies, QStringList{markup});
        notifications.capabilities = QStringList{u"body"_s};
        DesktopNotifier plainOnly;
        plainOnly.notify(u"1 new device"_s, markup, plain);
        QTRY_COMPARE(notifications.bodies, (QStringList{markup, plain}));
        QDBusConnection::disconnectFromBus(u"notifications"_s);
    }
};

QTEST_MAIN(TestDesktopNotifier)
#include "tst_desktopnotifier.moc"
