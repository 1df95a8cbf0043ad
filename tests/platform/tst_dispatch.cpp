#include "platform/backgroundpool.h"
#include "platform/dispatchgroup.h"
#include "platform/mainqueue.h"
#include "platform/semaphore.h"

#include "model/mainviewcontroller.h"

#include <QCoreApplication>
#include <QTest>
#include <QTimer>

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;

namespace {

struct ChildEnd {
    bool signalled = false;
    QByteArray errors;
};

// Runs this program again with `arguments` and collects its standard error. A plain fork
// and exec: QProcess starts children in a way the thread sanitizer takes for a fork that
// goes on running, and it then stops the test.
ChildEnd runChild(const QStringList &arguments)
{
    QList<QByteArray> texts{QCoreApplication::applicationFilePath().toLocal8Bit()};
    for (const QString &argument : arguments)
        texts.append(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &text : texts)
        argv.push_back(text.data());
    argv.push_back(nullptr);

    int errors[2];
    if (pipe(errors) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(errors[1], STDERR_FILENO);
        close(errors[0]);
        close(errors[1]);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(errors[1]);
    ChildEnd end;
    char buffer[4096];
    for (ssize_t n; (n = read(errors[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        end.errors.append(buffer, n);
    }
    close(errors[0]);
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid)
        end.signalled = WIFSIGNALED(status);
    return end;
}

} // namespace

class TestDispatch final : public QObject {
    Q_OBJECT

private slots:
    void groupWaitReturnsAfterTheLastLeave()
    {
        DispatchGroup group;
        std::atomic<int> left = 0;
        group.enter();
        group.enter();
        std::thread worker([&] {
            std::this_thread::sleep_for(20ms);
            ++left;
            group.leave();
            std::this_thread::sleep_for(20ms);
            ++left;
            group.leave();
        });
        group.wait();
        QCOMPARE(left.load(), 2);
        worker.join();
        group.wait(); // an idle group does not block
    }

    void semaphoreAtZeroBlocksUntilSignalled()
    {
        Semaphore semaphore(0);
        std::atomic<bool> signalled = false;
        std::thread signaller([&] {
            std::this_thread::sleep_for(30ms);
            signalled = true;
            semaphore.signal();
        });
        semaphore.wait();
        QVERIFY(signalled);
        signaller.join();
    }

    void semaphoreHandsUnitsOutInOrder()
    {
        BackgroundPool pool(1);
        Semaphore semaphore(1);
        std::mutex mutex;
        QList<int> order;
        DispatchGroup group;
        for (int i = 0; i < 5; ++i) {
            group.enter();
            semaphore.waitAsync([&, i] {
                {
                    const std::lock_guard lock(mutex);
                    order.append(i);
                }
                semaphore.signal();
                group.leave();
            }, pool);
        }
        group.wait();
        QCOMPARE(order, (QList<int>{0, 1, 2, 3, 4}));
    }

    // Work that waits on a limiter must not hold threads or keep a later task from
    // running, however much of it is queued.
    void waitingWorkDoesNotStarveLaterTasks()
    {
        constexpr int maxThreads = 8;
        BackgroundPool pool(maxThreads);
        Semaphore limiter(50);
        DispatchGroup group;
        std::atomic<int> started = 0;
        for (int i = 0; i < 2000; ++i) {
            group.enter();
            // Each holds its unit until the later task gives units back, as a probe
            // holds its unit until its hand-over has run.
            limiter.waitAsync([&] {
                ++started;
                group.leave();
            }, pool);
        }
        QTRY_COMPARE(started.load(), 50);

        std::atomic<bool> laterRan = false;
        pool.async([&] {
            laterRan = true;
            for (int i = 0; i < 1950; ++i)
                limiter.signal();
        });
        group.wait();
        QVERIFY(laterRan);
        QCOMPARE(started.load(), 2000);
        QVERIFY(pool.threadCount() <= maxThreads);
    }

    void blockingTasksRunSideBySide()
    {
        BackgroundPool pool(4);
        Semaphore gate(0);
        DispatchGroup group;
        for (int i = 0; i < 3; ++i) {
            group.enter();
            pool.async([&] {
                gate.wait();
                group.leave();
            });
        }
        group.enter();
        pool.async([&] { // runs although three tasks block their threads
            for (int i = 0; i < 3; ++i)
                gate.signal();
            group.leave();
        });
        group.wait();
        QCOMPARE(pool.threadCount(), 4);
    }

    // Each runs in a child process (see main below), which must stop with the message.
    void programmingErrorsStopTheProgram_data()
    {
        QTest::addColumn<QString>("mistake");
        QTest::addColumn<QString>("message");
        QTest::newRow("unbalanced leave") << QStringLiteral("unbalanced-leave")
                                          << QStringLiteral("DispatchGroup::leave() without a matching enter()");
        QTest::newRow("controller off the main thread")
            << QStringLiteral("controller-off-main")
            << QStringLiteral("MainViewController::addDevice called off the main thread");
    }

    void programmingErrorsStopTheProgram()
    {
        QFETCH(QString, mistake);
        QFETCH(QString, message);
        const ChildEnd child = runChild({QStringLiteral("--make-mistake"), mistake});
        const QString errors = QString::fromLocal8Bit(child.errors);
        QVERIFY2(child.signalled, qPrintable(errors));
        QVERIFY2(errors.contains(message), qPrintable(errors));
    }

    void mainSyncRunsOnTheMainThreadInOrder()
    {
        QList<int> order;
        std::atomic<bool> done = false;
        std::thread worker([&] {
            mainAsync([&] { order.append(1); });
            mainSync([&] {
                QVERIFY(isMainThread());
                order.append(2);
            });
            order.append(3); // mainSync returned: the task has run
            done = true;
        });
        QTRY_VERIFY(done);
        worker.join();
        QCOMPARE(order, (QList<int>{1, 2, 3}));
    }

    void mainSyncOnTheMainThreadRunsAtOnce()
    {
        bool ran = false;
        mainSync([&] { ran = true; });
        QVERIFY(ran);
    }

    // Last: the application quits here.
    void mainSyncAfterQuitReturnsWithoutRunning()
    {
        // A thread that enters mainSync as the loop stops must not hang there.
        std::thread caught;
        QTimer::singleShot(0, qApp, [&] {
            caught = std::thread([] { mainSync([] {}); });
            QCoreApplication::quit();
        });
        QCoreApplication::exec();
        caught.join();

        std::atomic<bool> ran = false;
        std::thread late([&] { mainSync([&] { ran = true; }); });
        late.join();
        mainAsync([&] { ran = true; });
        QCoreApplication::processEvents();
        QVERIFY(!ran);
    }
};

namespace {

// The child of programmingErrorsStopTheProgram: makes one mistake, which must not return.
int makeMistake(int argc, char *argv[], const char *mistake)
{
    QCoreApplication app(argc, argv);
    if (std::strcmp(mistake, "unbalanced-leave") == 0) {
        DispatchGroup group;
        group.leave();
    } else if (std::strcmp(mistake, "controller-off-main") == 0) {
        MainViewController controller(QStringLiteral("127.255.255.255"));
        std::thread([&] { controller.addDevice(std::make_shared<const DeviceRecord>()); }).join();
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 3 && std::strcmp(argv[1], "--make-mistake") == 0)
        return makeMistake(1, argv, argv[2]);
    QCoreApplication app(argc, argv);
    TestDispatch test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dispatch.moc"
