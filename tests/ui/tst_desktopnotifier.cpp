#include "support/logcapture.h"
#include "ui/desktopnotifier.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

class TestDesktopNotifier final : public QObject {
    Q_OBJECT

private slots:
    // However many notifications are asked for, before and after the bus is found
    // missing, one log line says so and nothing else happens.
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
};

QTEST_MAIN(TestDesktopNotifier)
#include "tst_desktopnotifier.moc"
