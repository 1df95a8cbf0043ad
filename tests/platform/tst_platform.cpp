#include "platform/backgroundpool.h"
#include "platform/dispatchgroup.h"
#include "platform/log.h"
#include "platform/semaphore.h"

#include <QCoreApplication>
#include <QTest>

#include <atomic>
#include <thread>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

class TestPlatform final : public QObject {
    Q_OBJECT

private slots:
    void formats_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");
        QTest::newRow("%@") << formatLogLine("GET %@", {u"http://10.0.0.1/info"_s}) << u"GET http://10.0.0.1/info"_s;
        QTest::newRow("%lu") << formatLogLine("IP range expanded into %lu addresses.", {size_t(4)})
                             << u"IP range expanded into 4 addresses."_s;
        QTest::newRow("%f six decimals") << formatLogLine("finished after %fs", {3.0045123})
                                         << u"finished after 3.004512s"_s;
        QTest::newRow("%d and %02d") << formatLogLine("%dd %02d:%02d:%02d", {1, 2, 3, 4}) << u"1d 02:03:04"_s;
        QTest::newRow("%02d negative") << formatLogLine("%dd %02d:%02d:%02d", {0, 0, -1, -1})
                                       << u"0d 00:-1:-1"_s;
        QTest::newRow("%s bytes") << formatLogLine("Bad UDP packet: '%s' from %@", {QByteArray("Zeph"), u"10.0.0.7"_s})
                                  << u"Bad UDP packet: 'Zeph' from 10.0.0.7"_s;
        QTest::newRow("percent") << formatLogLine("100%%", {}) << u"100%"_s;
        QTest::newRow("missing argument") << formatLogLine("a %@ b %d", {u"x"_s}) << u"a x b %d"_s;
    }

    void formats()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        QCOMPARE(line, expected);
    }

    // A task blocked on a semaphore holds only its own thread: a later task still runs
    // and opens the gate, and no blocked task passes before that.
    void blockedTasksLeaveRoomForLaterOnes()
    {
        BackgroundPool pool(4);
        Semaphore gate(0);
        DispatchGroup group;
        std::atomic<bool> opened = false;
        std::atomic<int> passedEarly = 0;
        for (int i = 0; i < 3; ++i) {
            group.enter();
            pool.async([&] {
                gate.wait();
                if (!opened)
                    ++passedEarly;
                group.leave();
            });
        }
        group.enter();
        pool.async([&] {
            std::this_thread::sleep_for(30ms);
            opened = true;
            for (int i = 0; i < 3; ++i)
                gate.signal();
            group.leave();
        });
        group.wait();
        QCOMPARE(passedEarly.load(), 0);
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
