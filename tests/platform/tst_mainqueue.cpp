#include "platform/mainqueue.h"

#include <QCoreApplication>
#include <QTest>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

// Makes application objects of its own, one after another, so it runs without the one
// application object that the other test programs share. A hang ends at CTest's time-out.
class TestMainQueue final : public QObject {
    Q_OBJECT

private slots:
    // Threads keep calling mainSync (and mainAsync between the calls) while the application
    // quits and then goes away. Every call must come back: run, or dropped at the quit; and
    // the next application must run tasks again.
    void mainSyncNeverHangsWhileTheApplicationQuits()
    {
        int argc = 1;
        char name[] = "tst_mainqueue";
        char *argv[] = {name, nullptr};
        for (int round = 0; round < 300; ++round) {
            auto app = std::make_unique<QCoreApplication>(argc, argv);
            std::atomic<bool> stop = false;
            const int quitAfter = 1 + round % 7;
            std::atomic<int> ranThisRound = 0;
            std::vector<std::thread> callers;
            for (int t = 0; t < 4; ++t) {
                callers.emplace_back([&] {
                    while (!stop) {
                        mainSync([&] {
                            if (++ranThisRound == quitAfter)
                                QCoreApplication::quit();
                        });
                        mainAsync([] {});
                    }
                });
            }
            QCoreApplication::exec();
            // The callers go on through the quit and past the application's end.
            if (round % 2 == 0)
                std::this_thread::sleep_for(1ms);
            app.reset();
            std::this_thread::sleep_for(round % 3 == 0 ? 1ms : 0ms);
            stop = true;
            for (std::thread &caller : callers)
                caller.join();
            QVERIFY(ranThisRound >= quitAfter);
        }
    }
};

QTEST_APPLESS_MAIN(TestMainQueue)
#include "tst_mainqueue.moc"
