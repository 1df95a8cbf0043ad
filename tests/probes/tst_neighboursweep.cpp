// The scan's side of devicefinder-arp, against a stand-in helper (tests/support/standin-arp)
// on loopback addresses: what it makes of each way a helper may answer, its deadline, and
// what it costs while the walk is behind.
#include "localnet/arphelperprocess.h"
#include "probes/arphelpersweep.h"
#include "probes/neighboursweep.h"
#include "probes/networkloop.h"
#include "tests/support/descriptors.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <condition_variable>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <net/if.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

constexpr quint32 first = 0x7F000D01; // 127.0.13.1

// `count` loopback addresses from 127.0.13.1, as the scan's walk gives them.
SweepSchedule::Source addresses(quint32 count)
{
    return [next = first, last = first + count - 1, lo = int(if_nametoindex("lo"))]() mutable {
        return next <= last ? SweepSchedule::Next{next++, false, lo} : SweepSchedule::Next{};
    };
}

// S someone, N nobody, - probe it all the same, x none: the run was stopped.
QChar letter(std::optional<SweepVerdict::Kind> kind)
{
    if (!kind)
        return u'x';
    return kind == SweepVerdict::Kind::Someone ? u'S' : kind == SweepVerdict::Kind::Nobody ? u'N' : u'-';
}

// The network thread's CPU time so far, in clock ticks.
long networkThreadTicks()
{
    for (const QString &task : QDir(u"/proc/self/task"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(u"/proc/self/task/%1/comm"_s.arg(task));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != "network")
            continue;
        QFile stat(u"/proc/self/task/%1/stat"_s.arg(task));
        if (!stat.open(QIODevice::ReadOnly))
            return -1;
        // After the command's parenthesis: the state is field 3, utime 14, stime 15.
        const QList<QByteArray> fields = stat.readAll().split(')').last().trimmed().split(' ');
        return fields.value(11).toLong() + fields.value(12).toLong();
    }
    return -1;
}

} // namespace

class TestNeighbourSweep final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        NetworkLoop::instance();
        QVERIFY(m_folder.isValid());
    }

    // Each row: the stand-in's way, its addresses and the pace asked; the verdicts the walk
    // gets, and what the sweep says.
    void helperAnswers_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<quint32>("count");
        QTest::addColumn<quint32>("rate");
        QTest::addColumn<QString>("verdicts");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("note");
        QTest::newRow("in turn") << u"nobody"_s << 5u << 0u << u"NNNNN"_s << QString() << QString();
        QTest::newRow("a pace above the ceiling")
            << u"someone"_s << 3u << 100'000u << u"SSS"_s << QString()
            << u"The neighbour sweep's devicefinder-arp sends at most 2,000 ARP requests a second, fewer than the 100,000 asked"_s;
        QTest::newRow("out of turn") << u"outoforder"_s << 3u << 0u << u"---"_s
                                     << u"devicefinder-arp answered for an address out of turn"_s << QString();
        QTest::newRow("garbage") << u"garbage"_s << 3u << 0u << u"---"_s
                                 << u"devicefinder-arp wrote something that is no answer"_s << QString();
        QTest::newRow("death part way") << u"dies"_s << 3u << 0u << u"N--"_s
                                        << u"devicefinder-arp ended: devicefinder-arp: the packet socket failed"_s
                                        << QString();
        // The kernel asks for the other two: loopback addresses get no word from it.
        QTest::newRow("silence past the deadline")
            << u"stalls"_s << 3u << 0u << u"N--"_s << QString()
            << u"The neighbour sweep's devicefinder-arp did not finish within 13 s (two requests for each of its 3 "
               "addresses at its pace, and 12 s): it is ended, and the kernel asks for the addresses it has not answered"_s;
    }
    void helperAnswers()
    {
        QFETCH(QString, mode);
        QFETCH(quint32, count);
        QFETCH(quint32, rate);
        std::stop_source run;
        const std::shared_ptr<NeighbourSweep> sweep = start(mode, count, rate, run);
        QVERIFY(sweep);
        // A sweep that would wait for ever is stopped.
        std::mutex mutex;
        std::condition_variable_any never;
        const std::jthread watchdog([&](std::stop_token done) {
            std::unique_lock lock(mutex);
            never.wait_for(lock, done, 40s, [] { return false; });
            if (!done.stop_requested())
                run.request_stop();
        });
        QString verdicts;
        for (quint32 i = 0; i < count; ++i)
            verdicts += letter(sweep->verdict(first + i));
        QTEST(verdicts, "verdicts");
        QTEST(sweep->failure(), "failure");
        QFETCH(QString, note);
        QCOMPARE(sweep->takeNotes(), note.isEmpty() ? QStringList() : QStringList{note});
        run.request_stop();
    }

    // A helper that cannot ask: the kernel does, and the line says why; also when its exit
    // cannot be read (SIGCHLD ignored: nothing to reap), which is then no clean exit.
    void unusableHelper_data()
    {
        QTest::addColumn<bool>("reaped");
        QTest::addColumn<QString>("why");
        QTest::newRow("no capability") << true << u"may not send ARP (devicefinder-arp: no packet socket"_s;
        QTest::newRow("an exit that cannot be read") << false << u"ended: its exit cannot be read: No child processes"_s;
    }
    void unusableHelper()
    {
        QFETCH(bool, reaped);
        QFETCH(QString, why);
        if (!reaped)
            ::signal(SIGCHLD, SIG_IGN);
        std::stop_source run;
        const std::shared_ptr<NeighbourSweep> sweep = start(u"nosocket"_s, 3, 0, run);
        QTRY_VERIFY(!sweep->how().isEmpty());
        ::signal(SIGCHLD, SIG_DFL);
        QVERIFY2(sweep->how().startsWith(u"The neighbour sweep asks through the kernel: devicefinder-arp at "_s)
                     && sweep->how().contains(why),
                 qPrintable(sweep->how()));
        run.request_stop();
    }

    // The helper has written every answer and ended while the walk's verdicts are full: the
    // network thread waits for the walk, without spinning on the helper's hang-up, and the
    // walk gets every verdict when it takes them.
    void fullVerdictsCostNothing()
    {
        constexpr quint32 count = NeighbourSweep::maxHanded + 500;
        std::stop_source run;
        const std::shared_ptr<NeighbourSweep> sweep = start(u"nobody"_s, count, 0, run);
        QCOMPARE(sweep->verdict(first), SweepVerdict::Kind::Nobody);
        QTest::qWait(1000);
        const long before = networkThreadTicks();
        QVERIFY(before >= 0);
        QTest::qWait(1000);
        const long spent = networkThreadTicks() - before;
        qInfo("The network thread used %ld of %ld ticks while the verdicts were full", spent, sysconf(_SC_CLK_TCK));
        QVERIFY(spent < sysconf(_SC_CLK_TCK) / 5);
        QString verdicts;
        for (quint32 i = 1; i < count; ++i)
            verdicts += letter(sweep->verdict(first + i));
        QCOMPARE(verdicts, QString(count - 1, u'N'));
        QCOMPARE(sweep->helperRequests(), 2 * count);
        QCOMPARE(sweep->failure(), QString());
    }

    // The deadline on the sweep's own clock: 2 x 40 addresses at 15 a second (6 s) and 12 s,
    // not counting the time the walk's verdicts were full; past it the rest, from the first
    // address without a verdict, goes to the kernel.
    void deadline()
    {
        const int epoll = epoll_create1(EPOLL_CLOEXEC);
        ArpHelperSweep helper(program(u"stalls"_s), 15, addresses(40));
        const ArpHelperSweep::Clock::time_point start = ArpHelperSweep::Clock::now();
        std::deque<SweepVerdict> verdicts;
        for (int pass = 0; pass < 500 && verdicts.empty(); ++pass) {
            QCOMPARE(helper.act(epoll, verdicts, 10, start), ArpHelperSweep::Step::Working);
            epoll_event event;
            epoll_wait(epoll, &event, 1, 10);
        }
        QCOMPARE(verdicts.size(), 1u);
        QCOMPARE(helper.deadline(), start + 18s);
        QCOMPARE(helper.act(epoll, verdicts, 0, start + 1s), ArpHelperSweep::Step::Working);
        QCOMPARE(helper.deadline(), std::nullopt);
        QCOMPARE(helper.act(epoll, verdicts, 10, start + 1h + 1s), ArpHelperSweep::Step::Working);
        QCOMPARE(helper.deadline(), start + 1h + 18s);
        QCOMPARE(helper.act(epoll, verdicts, 10, start + 1h + 18s), ArpHelperSweep::Step::Overdue);
        const SweepSchedule::Source rest = helper.rest();
        helper.end(epoll);
        ::close(epoll);
        for (quint32 address = first + 1; address < first + 40; ++address)
            QCOMPARE(rest().address, address);
        QCOMPARE(rest().address, std::nullopt);
    }

    // The helper's second pipe cannot be made: nothing of the first two stays open.
    void startThatFailsKeepsNoDescriptor()
    {
        rlimit old{};
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &old), 0);
        const QList<int> open = openDescriptors();
        const int top = open.isEmpty() ? 3 : *std::max_element(open.cbegin(), open.cend()) + 1;
        // Four free below the limit: the input's pair and the output's pipe.
        const rlimit tight{rlim_t(top + 4), old.rlim_max};
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &tight), 0);
        std::vector<int> fillers;
        for (int descriptor; (descriptor = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) {
            if (descriptor >= top) {
                ::close(descriptor);
                break;
            }
            fillers.push_back(descriptor);
        }
        QString why;
        const bool started = ArpHelperProcess().start(program(u"nobody"_s), {}, &why);
        QList<int> left;
        for (int descriptor = top; descriptor < top + 4; ++descriptor) {
            if (fcntl(descriptor, F_GETFD) >= 0)
                left.append(descriptor);
        }
        for (const int descriptor : fillers)
            ::close(descriptor);
        setrlimit(RLIMIT_NOFILE, &old);
        QVERIFY(!started);
        QCOMPARE(why, u"Too many open files"_s);
        QCOMPARE(left, QList<int>());
    }

private:
    // The stand-in, answering in `mode`: a program of its own for each way, since the helper
    // is started without arguments.
    QString program(const QString &mode)
    {
        const QString path = m_folder.filePath(mode);
        if (!QFile::exists(path)) {
            QFile file(path);
            file.open(QIODevice::WriteOnly);
            file.write(u"#!/bin/sh\nDF_STANDIN=%1 exec '%2'\n"_s.arg(mode, QStringLiteral(DF_STANDIN_HELPER)).toUtf8());
            file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        return path;
    }

    std::shared_ptr<NeighbourSweep> start(const QString &mode, quint32 count, quint32 rate, const std::stop_source &run)
    {
        QString why;
        const std::shared_ptr<NeighbourSweep> sweep
            = NeighbourSweep::open(addresses(count), run.get_token(), {rate, program(mode)}, &why);
        if (sweep)
            NetworkLoop::instance().startWork(sweep);
        return sweep;
    }

    QTemporaryDir m_folder;
};

QTEST_GUILESS_MAIN(TestNeighbourSweep)
#include "tst_neighboursweep.moc"
