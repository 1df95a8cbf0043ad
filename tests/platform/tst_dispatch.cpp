#include "platform/backgroundpool.h"
#include "platform/dispatchgroup.h"
#include "platform/semaphore.h"

#include <QCoreApplication>
#include <QTest>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;

class TestDispatch final : public QObject {
    Q_OBJECT

private slots:
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

QTEST_GUILESS_MAIN(TestDispatch)
#include "tst_dispatch.moc"
