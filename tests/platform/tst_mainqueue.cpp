#include "platform/mainqueue.h"

#include <QCoreApplication>
#include <QTest>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

// Stops the whole test with a message when the guarded stretch outlasts its time: a hang
// must fail, not stall the suite until CTest's time-out.
class Watchdog final {
public:
    Watchdog(std::chrono::seconds limit, const char *what)
        : m_thread([this, limit, what] {
              std::unique_lock lock(m_mutex);
              if (!m_done.wait_for(lock, limit, [this] { return m_finished; })) {
                  std::fprintf(stderr, "watchdog: %s did not end within %lld s\n", what,
                               static_cast<long long>(limit.count()));
                  std::abort();
              }
          })
    {
    }
    ~Watchdog()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_one();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};

} // namespace

// Each case makes application objects of its own, one after another, so it runs without
// the one application object that the other test programs share.
class TestMainQueue final : public QObject {
    Q_OBJECT

private slots:
    // Threads keep calling mainSync (and mainAsync between the calls) while the application
    // quits and then goes away. Every call must come back: run, or dropped at the quit.
    void mainSyncNeverHangsWhileTheApplicationQuits()
    {
        int argc = 1;
        char name[] = "tst_mainqueue";
        char *argv[] = {name, nullptr};
        std::atomic<long> ran = 0;
        for (int round = 0; round < 300; ++round) {
            const Watchdog watchdog(20s, "a round of mainSync callers");
            auto app = std::make_unique<QCoreApplication>(argc, argv);
            std::atomic<bool> stop = false;
            const int quitAfter = 1 + round % 7;
            std::atomic<int> ranThisRound = 0;
            std::vector<std::thread> callers;
            for (int t = 0; t < 4; ++t) {
                callers.emplace_back([&] {
                    while (!stop) {
                        mainSync([&] {
                            ++ran;
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
        QVERIFY(ran > 0);
    }

    // An application object that has quit takes no task again; a new one does.
    void aQuitApplicationTakesNoTask()
    {
        int argc = 1;
        char name[] = "tst_mainqueue";
        char *argv[] = {name, nullptr};
        const Watchdog watchdog(20s, "mainSync after a quit");
        {
            QCoreApplication app(argc, argv);
            QMetaObject::invokeMethod(&app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
            QCoreApplication::exec();
            std::atomic<bool> ran = false;
            std::thread late([&] { mainSync([&] { ran = true; }); });
            late.join();
            mainAsync([&] { ran = true; });
            QCoreApplication::processEvents();
            QVERIFY(!ran);
        }
        QCoreApplication app(argc, argv);
        std::atomic<bool> ran = false;
        std::thread fresh([&] {
            mainSync([&] { ran = true; });
            mainAsync([] { QCoreApplication::quit(); });
        });
        QCoreApplication::exec();
        fresh.join();
        QVERIFY(ran);
    }
};

QTEST_APPLESS_MAIN(TestMainQueue)
#include "tst_mainqueue.moc"
