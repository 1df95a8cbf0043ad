// The scan's side of devicefinder-arp against a stand-in (tests/support/standin-arp, run by
// the name of the way it answers), on loopback addresses.
#include "probes/networkloop.h"
#include "sweep/arphelperprocess.h"
#include "sweep/arphelpersweep.h"
#include "sweep/neighboursweep.h"
#include "tests/support/descriptors.h"

#include <QTemporaryDir>
#include <QTest>

#include <thread>

#include <fcntl.h>
#include <net/if.h>
#include <signal.h>
#include <sys/resource.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

constexpr quint32 first = 0x7F000D01; // 127.0.13.1

SweepSchedule::Source addresses(quint32 count)
{
    return [next = first, last = first + count - 1, lo = int(if_nametoindex("lo"))]() mutable {
        return next <= last ? SweepSchedule::Next{next++, false, lo} : SweepSchedule::Next{};
    };
}

// The walk's verdicts on `count` addresses: S someone, N nobody, - probe it all the same.
QString verdicts(NeighbourSweep &sweep, quint32 count, quint32 from = first)
{
    QString text;
    for (quint32 address = from; address < from + count; ++address)
        text += u"SN-"_s.at(int(sweep.verdict(address).value_or(SweepVerdict::Kind::NoWord)));
    return text;
}

} // namespace

class TestNeighbourSweep final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { NetworkLoop::instance(); }

    // The stand-in's way, the pace asked; the walk's verdicts and what the sweep says of how it
    // asks and since ("-": the kernel asks, and says nothing of loopback). A helper that gives
    // out part way leaves the rest to the kernel, at the pace: the sweep never fails for it.
    // A stop ends it and closes its descriptors.
    void helperAnswers_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<quint32>("rate");
        QTest::addColumn<QString>("verdicts");
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("note");
        const QString helperAsks = u"sends the ARP requests on lo"_s;
        const QString kernelAsks = u", and the kernel asks for the addresses it has not answered"_s;
        QTest::newRow("a pace above the ceiling")
            << u"someone"_s << 100'000u << u"SSS"_s << helperAsks
            << u"The neighbour sweep's devicefinder-arp sends at most 2,000 ARP requests a second, fewer than the 100,000 asked"_s;
        // Ctrl-C at a terminal, or a `timeout`, signals the job: not the helper under the sweep.
        QTest::newRow("a process group of its own") << u"alone"_s << 0u << u"SSS"_s << helperAsks << QString();
        QTest::newRow("out of turn") << u"outoforder"_s << 0u << u"---"_s
                                     << u"The neighbour sweep asks through the kernel: devicefinder-arp answered for an "
                                        "address out of turn: it is ended"_s + kernelAsks
                                     << QString();
        QTest::newRow("garbage") << u"garbage"_s << 0u << u"---"_s
                                 << u"The neighbour sweep asks through the kernel: devicefinder-arp wrote something that "
                                    "is no answer: it is ended"_s + kernelAsks
                                 << QString();
        QTest::newRow("death part way")
            << u"dies"_s << 0u << u"N--"_s << helperAsks
            << u"The neighbour sweep's devicefinder-arp ended part way (devicefinder-arp: the packet socket failed)"_s + kernelAsks;
        QTest::newRow("silence past the deadline")
            << u"stalls"_s << 0u << u"N--"_s << helperAsks
            << u"The neighbour sweep's devicefinder-arp did not finish within 13 s (two requests for each of its 3 "
               "addresses at its pace, and 12 s): it is ended"_s + kernelAsks;
    }
    void helperAnswers()
    {
        QFETCH(QString, mode);
        QFETCH(quint32, rate);
        QFETCH(QString, how);
        QFETCH(QString, note);
        const qsizetype descriptors = openDescriptors().size();
        std::stop_source run;
        const std::shared_ptr<NeighbourSweep> sweep = start(mode, 3, rate, run);
        QTEST(verdicts(*sweep, 3), "verdicts");
        QVERIFY2(sweep->how().endsWith(how), qPrintable(sweep->how()));
        QCOMPARE(sweep->failure(), QString());
        QCOMPARE(sweep->takeNotes(), note.isEmpty() ? QStringList() : QStringList{note});
        run.request_stop();
        QTRY_COMPARE(openDescriptors().size(), descriptors);
    }

    // A helper whose exit cannot be read (SIGCHLD ignored) has no clean one: the line says why.
    void exitThatCannotBeRead()
    {
        ::signal(SIGCHLD, SIG_IGN);
        std::stop_source run;
        const std::shared_ptr<NeighbourSweep> sweep = start(u"nosocket"_s, 3, 0, run);
        QTRY_VERIFY(!sweep->how().isEmpty());
        ::signal(SIGCHLD, SIG_DFL);
        QVERIFY2(sweep->how().endsWith(u"/nosocket ended: its exit cannot be read: No child processes"_s),
                 qPrintable(sweep->how()));
        run.request_stop();
    }

    // The helper has ended while the walk's verdicts are full: no spin on the hang-up, then the rest.
    void fullVerdictsCostNothing()
    {
        constexpr quint32 count = NeighbourSweep::maxHanded + 500;
        std::stop_source run;
        const std::shared_ptr<NeighbourSweep> sweep = start(u"nobody"_s, count, 0, run);
        QCOMPARE(verdicts(*sweep, 1), u"N"_s);
        QVERIFY(socketsCloseOnExec());
        std::this_thread::sleep_for(1s);
        const auto cpu = [] { return std::chrono::nanoseconds(std::clock() * (1'000'000'000 / CLOCKS_PER_SEC)); };
        const std::chrono::nanoseconds before = cpu();
        std::this_thread::sleep_for(1s);
        qInfo("%lld ms of CPU in a second while the verdicts were full", qint64((cpu() - before) / 1ms));
        QVERIFY(cpu() - before < 200ms);
        QCOMPARE(verdicts(*sweep, count - 1, first + 1), QString(count - 1, u'N'));
        QCOMPARE(sweep->helperRequests(), 2 * count);
    }

    // The deadline on a made-up clock: 2 x 40 addresses at 15 a second and 12 s (time with the
    // verdicts full aside); past it the rest goes to the kernel.
    void deadline()
    {
        const int epoll = epoll_create1(EPOLL_CLOEXEC);
        ArpHelperSweep helper(program(u"stalls"_s), 15, addresses(40));
        const ArpHelperSweep::Clock::time_point start = ArpHelperSweep::Clock::now();
        std::deque<SweepVerdict> answered;
        for (int pass = 0; pass < 500 && answered.empty(); ++pass) {
            QCOMPARE(helper.act(epoll, answered, 10, start), ArpHelperSweep::Step::Working);
            epoll_event event;
            epoll_wait(epoll, &event, 1, 10);
        }
        QCOMPARE(helper.deadline(), start + 18s);
        QCOMPARE(helper.act(epoll, answered, 0, start + 1s), ArpHelperSweep::Step::Working);
        QCOMPARE(helper.act(epoll, answered, 10, start + 1h + 1s), ArpHelperSweep::Step::Working);
        QCOMPARE(helper.act(epoll, answered, 10, start + 1h + 18s), ArpHelperSweep::Step::GaveOut);
        const SweepSchedule::Source rest = helper.rest();
        helper.end(epoll);
        ::close(epoll);
        QCOMPARE(answered.size(), 1u);
        for (quint32 address = first + 1; address < first + 40; ++address)
            QCOMPARE(rest().address, address);
        QCOMPARE(rest().address, std::nullopt);
    }

    // With room for the input's pair and the output's pipe only, nothing stays open.
    void startThatFailsKeepsNoDescriptor()
    {
        rlimit old{};
        getrlimit(RLIMIT_NOFILE, &old);
        const QList<int> open = openDescriptors();
        const int top = *std::max_element(open.cbegin(), open.cend()) + 1;
        const rlimit tight{rlim_t(top + 4), old.rlim_max};
        setrlimit(RLIMIT_NOFILE, &tight);
        std::vector<int> holes;
        for (int descriptor; (descriptor = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0 && descriptor < top;)
            holes.push_back(descriptor);
        ::close(top);
        QString why;
        const bool started = ArpHelperProcess().start(program(u"nobody"_s), {}, &why);
        const bool left = fcntl(top, F_GETFD) >= 0 || fcntl(top + 2, F_GETFD) >= 0;
        std::for_each(holes.cbegin(), holes.cend(), ::close);
        setrlimit(RLIMIT_NOFILE, &old);
        QVERIFY(!started && why == u"Too many open files"_s && !left);
    }

private:
    QString program(const QString &mode)
    {
        QFile::link(QStringLiteral(DF_STANDIN_HELPER), m_folder.filePath(mode));
        return m_folder.filePath(mode);
    }

    std::shared_ptr<NeighbourSweep> start(const QString &mode, quint32 count, quint32 rate, const std::stop_source &run)
    {
        QString why;
        auto sweep = NeighbourSweep::open(addresses(count), run.get_token(), {rate, program(mode), std::nullopt}, &why);
        NetworkLoop::instance().startWork(sweep);
        return sweep;
    }

    QTemporaryDir m_folder;
};

QTEST_GUILESS_MAIN(TestNeighbourSweep)
#include "tst_neighboursweep.moc"
