#include "sweep/sweepschedule.h"

#include <QTest>

#include <algorithm>
#include <vector>

using namespace std::chrono_literals;
using Clock = SweepSchedule::Clock;
using Kind = SweepVerdict::Kind;
using State = NeighbourState;

namespace {

const Clock::time_point start = Clock::time_point() + 1h;
constexpr quint32 base = 0xC6120000; // 198.18.0.0
// Another interface on the addresses' subnet; theirs is the source's default, 0.
constexpr int otherLink = 3;

// The kernel's word on an address, on its own link unless said otherwise.
struct Word {
    Word(State state, int interfaceIndex = 0) : state(state), interfaceIndex(interfaceIndex) { }
    State state;
    int interfaceIndex;
};
using Words = QList<Word>;

NeighbourEntry word(quint32 address, Word said)
{
    return {address, said.interfaceIndex, said.state, false};
}

// An owner's loop over `total` made-up addresses, the source asking to be called again after each.
struct Sweep {
    explicit Sweep(quint32 total)
        : schedule(
              [this, total] {
                  if (std::exchange(paused, !paused) || pulled == total)
                      return SweepSchedule::Next{std::nullopt, pulled < total};
                  return SweepSchedule::Next{base + pulled++, false};
              },
              start)
    {
        schedule.dumpEnded();
    }
    // Sleeps to the wake-up in whole milliseconds (as epoll), sends what is due (each resolved at
    // once when `answer`), takes the verdicts; false when no wake-up comes by `until`.
    bool step(bool answer, Clock::time_point until = Clock::time_point::max())
    {
        if (started) {
            const std::optional<Clock::time_point> wake = schedule.wakeAt();
            if (!wake || *wake >= until)
                return false;
            now = std::max(now, start + std::chrono::ceil<std::chrono::milliseconds>(*wake - start));
        }
        started = true;
        while (const std::optional<quint32> address = schedule.dueSend(now)) {
            schedule.sent(*address, now);
            sends.push_back(now);
            if (answer)
                schedule.heard(word(*address, State::Someone));
        }
        while (schedule.nextVerdict(now))
            ++verdicts;
        return true;
    }

    quint32 pulled = 0;
    bool paused = false;
    bool started = false;
    SweepSchedule schedule;
    Clock::time_point now = start;
    std::vector<Clock::time_point> sends;
    int verdicts = 0;
};

// One address: words before its datagram, whether one is sent, words after, and its verdict.
struct Case {
    Words early;
    bool given; // the address was given before the early words
    Words words;
    int send; // 0 none due, 1 sent, 2 could not leave
    Kind kind;
    int atMs; // when the verdict is out
};

} // namespace

Q_DECLARE_METATYPE(Case)

class TestSweepSchedule final : public QObject {
    Q_OBJECT

private slots:
    void words_data()
    {
        QTest::addColumn<Case>("c");
        const State S = State::Someone, N = State::Nobody, U = State::Unknown;
        const Kind someone = Kind::Someone, nobody = Kind::Nobody, noWord = Kind::NoWord;
        const bool given = true;
        //                                                     early, given, words, send, kind, atMs
        QTest::newRow("reachable") << Case{{}, false, {S}, 1, someone, 0};
        QTest::newRow("incomplete, failed") << Case{{}, false, {U, N}, 1, nobody, 0};
        QTest::newRow("failed, then a change") << Case{{}, false, {N, S}, 1, nobody, 0};
        QTest::newRow("undecided") << Case{{}, false, {U}, 1, noWord, 4000};
        QTest::newRow("could not leave") << Case{{}, false, {}, 2, noWord, 0};
        QTest::newRow("someone before it is given") << Case{{S}, false, {}, 0, someone, 0};
        QTest::newRow("someone, then failed, before it is given") << Case{{S, N}, false, {S}, 1, someone, 0};
        QTest::newRow("someone, given, not sent") << Case{{S}, given, {}, 0, someone, 0};
        QTest::newRow("failed, given, not sent") << Case{{N}, given, {}, 1, noWord, 4000};
        // Another interface on the subnet keeps entries of its own: they say nothing here.
        const Word otherN{N, otherLink}, otherS{S, otherLink};
        QTest::newRow("failed on another link") << Case{{}, false, {otherN}, 1, noWord, 4000};
        QTest::newRow("reachable on another link, then failed") << Case{{}, false, {otherS, N}, 1, nobody, 0};
        QTest::newRow("someone on another link before it is given") << Case{{otherS}, false, {}, 1, noWord, 4000};
        QTest::newRow("someone on both, failed on another, before it is given")
            << Case{{S, otherS, otherN}, false, {}, 0, someone, 0};
    }

    // One address's way from the source to its verdict.
    void words()
    {
        QFETCH(Case, c);
        const quint32 address = base + 1;
        bool pulled = false;
        SweepSchedule schedule(
            [&] { return SweepSchedule::Next{std::exchange(pulled, true) ? std::nullopt : std::optional(address)}; },
            start);
        if (c.given)
            QVERIFY(!schedule.dueSend(start)); // waits for the first dump
        for (const Word &early : std::as_const(c.early))
            schedule.heard(word(address, early));
        schedule.dumpEnded();
        QCOMPARE(schedule.dueSend(start).has_value(), c.send != 0);
        c.send == 2 ? schedule.sendFailed(address) : schedule.sent(address, start);
        for (const Word &later : std::as_const(c.words))
            schedule.heard(word(address, later));
        const Clock::time_point at = start + std::chrono::milliseconds(c.atMs);
        QVERIFY(c.atMs == 0 || !schedule.nextVerdict(at - 1ms));
        QCOMPARE(schedule.nextVerdict(at), (SweepVerdict{address, c.kind}));
        schedule.heard(word(address, State::Someone));
        QVERIFY(!schedule.nextVerdict(start + 1h) && schedule.isFinished());
    }

    // Where nobody lives, 256 wait at a time for their 4 s, the look-ahead bounded; where all
    // answer at once, the rate alone holds the sends back.
    void limits()
    {
        Sweep empty(100'000);
        while (empty.step(false, start + 20s)) {
            QVERIFY(empty.sends.size() - std::size_t(empty.verdicts) <= std::size_t(SweepSchedule::maxUnresolved));
            QVERIFY(empty.pulled <= quint32(empty.verdicts) + SweepSchedule::maxAhead);
        }
        QCOMPARE(empty.verdicts, 256 * 4);
        QCOMPARE(empty.schedule.wakeAt(), empty.sends.at(256 * 4) + SweepSchedule::wordWait);

        Sweep full(100'000);
        while (full.step(true, start + 3s)) {
        }
        for (auto first = full.sends.cbegin(); first != full.sends.cend(); ++first)
            QVERIFY(std::upper_bound(first, full.sends.cend(), *first + 1s - 1ns) - first <= 1000);
        QVERIFY(full.sends.size() >= 2900);
    }

    // Lost words hold the sends until a new dump ends, or for a second at most.
    void wordsLost()
    {
        Sweep sweep(1000);
        sweep.step(false);
        sweep.schedule.wordsLost(sweep.now);
        QVERIFY(!sweep.schedule.dueSend(sweep.now + SweepSchedule::dumpWait - 1ms));
        sweep.schedule.dumpEnded();
        QVERIFY(sweep.schedule.dueSend(sweep.now + 10ms));
        sweep.schedule.wordsLost(sweep.now + 10ms);
        QVERIFY(!sweep.schedule.dueSend(sweep.now + 20ms));
        QVERIFY(sweep.schedule.dueSend(sweep.now + 10ms + SweepSchedule::dumpWait));
    }
};

QTEST_GUILESS_MAIN(TestSweepSchedule)
#include "tst_sweepschedule.moc"
