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

    // On the main thread the task runs at once; from another thread, in order with mainAsync.
    void mainSyncRunsOnTheMainThreadInOrder()
    {
        QList<int> order;
        mainSync([&] { order.append(0); });
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
        QCOMPARE(order, (QList<int>{0, 1, 2, 3}));
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
