#include "platform/programqueue.h"
#include "platform/userprogram.h"
#include "support/files.h"
#include "support/logcapture.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// The user's program: what it does comes from its third argument or its standard input.
const QByteArray script = R"(#!/bin/sh
dir=$1
job=${3:-$(cat)}
echo "start $job" >> "$dir/log"
case $job in
fail) exit 3 ;;
crash) kill -9 $$ ;;
hang) trap '' TERM; sleep 20 & echo $! >> "$dir/sleepers"; wait $! ;;
stray) (trap '' TERM; exec sleep 20) & echo $! >> "$dir/sleepers"; wait $! ;;
leave) (trap '' TERM; exec sleep 20) & echo $! >> "$dir/sleepers" ;;
daemon) setsid sleep 1 & echo $! >> "$dir/sleepers" ;;
clean)
    # Read by the shell itself: the children of sh start with no signal blocked.
    while read -r line; do case $line in SigBlk*|SigIgn*) echo "$line" ;; esac; done < /proc/$$/status > "$dir/signals"
    printf '%s' "$DF_TEST" > "$dir/environment"
    printf '%s|%s' "$#" "$2" > "$dir/arguments"
    ls /proc/$$/fd > "$dir/descriptors"
    set -- $(cat /proc/$$/stat)
    echo "$1 $5 $6" > "$dir/ids" ;;
esac
echo "end $job" >> "$dir/log"
)";

// A process's state and parent ("S 1234"), or nothing once it has been reaped.
QByteArray stateAndParent(const QByteArray &pid)
{
    const QByteArray stat = readFile(u"/proc/"_s + QString::fromLatin1(pid) + u"/stat"_s);
    return stat.isEmpty() ? QByteArray() : stat.mid(stat.lastIndexOf(')') + 2).split(' ').mid(0, 2).join(' ');
}

} // namespace

class TestUserProgram final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_leakedDescriptor = -1;

    QStringList command() const { return {m_dir.filePath(u"program"_s), m_dir.path()}; }
    // Whether every child the program started is gone, or a zombie nobody has reaped yet.
    bool sleepersGone() const
    {
        const QList<QByteArray> pids = file(u"sleepers"_s).trimmed().split('\n');
        return std::all_of(pids.begin(), pids.end(), [](const QByteArray &pid) {
            const QByteArray stat = readFile(u"/proc/"_s + QString::fromLatin1(pid) + u"/stat"_s);
            return stat.isEmpty() || stat.contains(") Z ");
        });
    }
    QByteArray file(const QString &name) const { return readFile(m_dir.filePath(name)); }
    ProgramQueue::Job job(const QByteArray &input) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"DF_TEST"_s, u"<b>&amp; $(rm -rf ~)\nsecond line"_s);
        return {input + '\n', environment};
    }

private slots:
    void initTestCase()
    {
        // As the tool runs: quit signals blocked, SIGPIPE ignored, and here a descriptor
        // without close-on-exec.
        sigset_t quit;
        sigemptyset(&quit);
        sigaddset(&quit, SIGINT);
        sigaddset(&quit, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &quit, nullptr);
        std::signal(SIGPIPE, SIG_IGN);
        m_leakedDescriptor = ::open("/dev/null", O_RDONLY);
        QVERIFY(writeFile(command().first(), script));
        QFile::setPermissions(command().first(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void queueRunsOneAtATimeInOrder()
    {
        const LogCapture log;
        ProgramQueue queue(command(), {5s, 1s, 2});
        QSignalSpy idle(&queue, &ProgramQueue::idle);
        // The first starts at once and two wait; the rest find the queue full.
        for (const char *input : {"1", "fail", "crash", "4", "5"})
            queue.enqueue(job(input));
        QVERIFY(idle.wait(10'000));
        queue.enqueue(job("6"));
        QVERIFY(idle.wait(10'000));
        QCOMPARE(file(u"log"_s), "start 1\nend 1\nstart fail\nstart crash\nstart 6\nend 6\n");
        const QString name = command().first();
        QCOMPARE(log.lines(),
                 (QStringList{u"The program %1 is 2 events behind: the next events are dropped until it catches up"_s.arg(name),
                              u"The program %1 exited with status 3"_s.arg(name),
                              u"The program %1 ended on signal 9"_s.arg(name),
                              u"2 events were dropped for the program %1"_s.arg(name)}));

        ProgramQueue missing({m_dir.filePath(u"missing"_s)});
        QSignalSpy missingIdle(&missing, &ProgramQueue::idle);
        missing.enqueue(job("1"));
        missing.enqueue(job("2"));
        QTRY_COMPARE(missingIdle.count(), 1);
        QCOMPARE(log.lines().filter(u"could not be started"_s).size(), 2);
    }

    void childStartsClean()
    {
        ProgramQueue queue(command() + QStringList{u"x; rm -rf ~ $(id)"_s});
        QSignalSpy idle(&queue, &ProgramQueue::idle);
        queue.enqueue(job("clean"));
        QVERIFY(idle.wait(10'000));
        // No signal blocked, SIGPIPE not ignored; whatever else is ignored is the caller's.
        const QList<QByteArray> signalLines = file(u"signals"_s).split('\n');
        QCOMPARE(signalLines.value(0), "SigBlk:\t0000000000000000");
        QCOMPARE(signalLines.value(1).mid(8).toULongLong(nullptr, 16) & (1u << (SIGPIPE - 1)), 0u);
        QCOMPARE(file(u"environment"_s), "<b>&amp; $(rm -rf ~)\nsecond line");
        QCOMPARE(file(u"arguments"_s), "2|x; rm -rf ~ $(id)");
        QVERIFY(!file(u"descriptors"_s).split('\n').contains(QByteArray::number(m_leakedDescriptor)));
        const QList<QByteArray> ids = file(u"ids"_s).trimmed().split(' ');
        QCOMPARE(ids.value(1), ids.value(0)); // a process group of its own
    }

    // Whatever is left in the program's group is ended, whether or not the program has exited.
    void timeLimitEndsTheProgramAndWhatItStarted_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::newRow("the program ignores SIGTERM") << QByteArray("hang");
        QTest::newRow("its child ignores SIGTERM") << QByteArray("stray");
        QTest::newRow("its child outlives it") << QByteArray("leave");
    }
    void timeLimitEndsTheProgramAndWhatItStarted()
    {
        QFETCH(QByteArray, input);
        QFile::remove(m_dir.filePath(u"sleepers"_s));
        const LogCapture log;
        ProgramQueue queue(command(), {300ms, 300ms, 10});
        QSignalSpy idle(&queue, &ProgramQueue::idle);
        queue.enqueue(job(input));
        QVERIFY(idle.wait(10'000));
        QCOMPARE(file(u"sleepers"_s).count('\n'), 1);
        QTRY_VERIFY(sleepersGone());
        QCOMPARE(log.lines(), QStringList{u"The program %1 ran over 0.3 s and was ended"_s.arg(command().first())});
    }

    // The queue's end ends its groups, the running program's and the ones left behind.
    void groupsEndWithTheQueue()
    {
        QFile::remove(m_dir.filePath(u"sleepers"_s));
        auto queue = std::make_unique<ProgramQueue>(command(), ProgramQueue::Limits{20s, 300ms, 10});
        queue->enqueue(job("leave"));
        queue->enqueue(job("hang"));
        QTRY_COMPARE(file(u"sleepers"_s).count('\n'), 2);
        queue.reset();
        // SIGKILL is sent by then; the kernel takes a moment to carry it out.
        QTRY_VERIFY(sleepersGone());
    }

    // A group reaped whole is forgotten: its number, given at once to another, is never
    // signalled. tst_userprogram_pidns runs it, in a PID namespace to choose that number.
    void reusedGroupNumberIsNotSignalled()
    {
        QFile nextPid(u"/proc/sys/kernel/ns_last_pid"_s);
        if (qEnvironmentVariableIsEmpty("DF_PID_NAMESPACE"))
            QSKIP("needs a PID namespace of its own: tst_userprogram_pidns runs it");
        ProgramQueue queue(command(), {300ms, 300ms, 10});
        QSignalSpy idle(&queue, &ProgramQueue::idle);
        queue.enqueue(job("clean"));
        QVERIFY(idle.wait(10'000));
        const qint64 group = file(u"ids"_s).split(' ').value(1).toLongLong();
        QVERIFY(group > 1);
        QVERIFY(nextPid.open(QIODevice::WriteOnly) && nextPid.write(QByteArray::number(group - 1)) > 0);
        nextPid.close();
        QProcess other;
        prepareUserProgram(other, {u"sleep"_s, u"5"_s}, ChildGroup::ProcessGroup);
        other.start();
        QVERIFY(other.waitForStarted());
        QCOMPARE(other.processId(), group);
        QTest::qWait(900); // past the old group's time limit and kill delay
        QCOMPARE(other.state(), QProcess::Running);
        other.kill();
        other.waitForFinished();
    }

    // What a run starts in a session of its own outlives the limit, and is reaped once it ends.
    void sessionOfItsOwnOutlivesTheRunAndIsReaped()
    {
        QFile::remove(m_dir.filePath(u"sleepers"_s));
        const LogCapture log;
        ProgramQueue queue(command(), {200ms, 200ms, 10});
        QSignalSpy idle(&queue, &ProgramQueue::idle);
        queue.enqueue(job("daemon"));
        QVERIFY(idle.wait(10'000));
        const QByteArray daemon = file(u"sleepers"_s).trimmed();
        QTest::qWait(500);
        QCOMPARE(stateAndParent(daemon), "S " + QByteArray::number(::getpid()));
        QTRY_COMPARE_WITH_TIMEOUT(stateAndParent(daemon), "Z " + QByteArray::number(::getpid()), 3000);
        queue.enqueue(job("1"));
        QVERIFY(idle.wait(10'000));
        QCOMPARE(stateAndParent(daemon), QByteArray());
        QCOMPARE(log.lines(), QStringList());
    }

    void detachedStart()
    {
        for (const QString &name : {u"log"_s, u"signals"_s, u"arguments"_s, u"ids"_s})
            QFile::remove(m_dir.filePath(name));
        const ProgramStart started = startDetachedProgram(command() + QStringList{u"x; rm -rf ~"_s, u"clean"_s});
        QVERIFY2(started.started, qPrintable(started.error));
        QTRY_VERIFY(file(u"log"_s).endsWith("end clean\n"));
        QCOMPARE(file(u"signals"_s).split('\n').value(0), "SigBlk:\t0000000000000000");
        QCOMPARE(file(u"arguments"_s), "3|x; rm -rf ~");
        const QList<QByteArray> ids = file(u"ids"_s).trimmed().split(' ');
        QCOMPARE(ids.value(2), ids.value(0)); // a session of its own

        QCOMPARE(startDetachedProgram({u"devicefinder-no-such-program"_s}).error,
                 u"devicefinder-no-such-program was not found"_s);
        const QString missing = m_dir.filePath(u"missing"_s);
        QCOMPARE(startDetachedProgram({missing}).error,
                 missing + u" could not be started: execvp: No such file or directory"_s);
        QCOMPARE(startDetachedProgram({}).error, u"no program given"_s);
        // Lets the ended program's QProcess go before the test ends.
        QTest::qWait(100);
    }
};

QTEST_GUILESS_MAIN(TestUserProgram)
#include "tst_userprogram.moc"
