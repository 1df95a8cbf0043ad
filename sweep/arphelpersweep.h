#pragma once

#include "sweep/arphelperprocess.h"
#include "sweep/sweepschedule.h"

#include <QString>

#include <deque>
#include <memory>
#include <vector>

// The neighbour sweep's work when devicefinder-arp asks the link: the sweep's addresses
// gathered into ranges (all on one interface), the helper started on that interface, and
// its answers turned into verdicts in the walk's order. When the helper cannot be used
// (none of it can start, its socket cannot be opened, the addresses lie on several
// interfaces), the addresses go to the kernel's sweep instead: rest() gives them back; so
// do those it has not answered when it gives out part way (it ends, writes what is no
// answer, or passes its deadline), so that the pace holds to the sweep's end.
// Network thread only: the helper dies with the thread that starts it.
class ArpHelperSweep final {
public:
    using Clock = SweepSchedule::Clock;
    // Past 2 x addresses / pace and this, the helper is overdue. The time the walk's
    // verdicts are full, and the helper's answers wait for room, does not count.
    static constexpr std::chrono::seconds deadlineSlack{12};

    // `held`: requests made meanwhile that the helper's pace counts (arp/arppace.h, hold()).
    ArpHelperSweep(QString program, quint32 rate, SweepSchedule::Source addresses,
                   std::vector<ArpPace::Request> held = {});

    enum class Step {
        Working,
        Finished, // every verdict given
        Unusable, // nothing given, why() says why: the kernel sweeps instead
        GaveOut, // part way, why() says why: the kernel sweeps for the rest
    };
    // Gathers, then starts the helper and feeds it, then reads its answers: appends at most
    // `room` verdicts. While there is no room, the helper's output leaves `epoll`: its end
    // would wake every pass.
    Step act(int epoll, std::deque<SweepVerdict> &verdicts, std::size_t room, Clock::time_point now);
    bool isGathering() const { return m_gathering; }
    // When the helper is overdue, while it runs and its answers are read.
    std::optional<Clock::time_point> deadline() const;
    bool owns(int descriptor) const;
    const QString &why() const { return m_why; }
    // Where the helper asks, once it has answered.
    QString how() const;
    // The requests the helper sent, once it has said.
    std::optional<quint64> requestsSent() const { return m_endSeen ? std::optional(m_sent) : std::nullopt; }
    // The addresses without a verdict, gathered and not, for the kernel's sweep; only after
    // Unusable or GaveOut.
    SweepSchedule::Source rest();
    // Stops the helper. Its descriptors leave `epoll` first.
    void end(int epoll);

private:
    struct Stretch final {
        quint32 first = 0;
        quint32 last = 0;
    };
    bool gather();
    Step launch(int epoll, Clock::time_point now);
    // Writes what the helper's input takes, and watches it for room while some is left.
    void feed(int epoll);
    Step unusable(const QString &why);
    Step gaveOut(const QString &why);
    void watchOutput(int epoll, bool watch, Clock::time_point now);

    const QString m_program;
    const quint32 m_rate;
    SweepSchedule::Source m_source;
    std::vector<ArpPace::Request> m_held;
    std::vector<Stretch> m_stretches;
    std::optional<quint32> m_heldBack; // the address, on another interface, that ended gathering
    int m_interfaceIndex = 0;
    int m_heldBackInterface = 0;
    quint64 m_addresses = 0;
    bool m_gathering = true;
    std::unique_ptr<ArpHelperProcess> m_process;
    bool m_outputWatched = false;
    bool m_inputWatched = false;
    Clock::time_point m_deadline;
    std::chrono::seconds m_allowed{0};
    std::optional<Clock::time_point> m_pausedAt; // since the output left the wait set
    // The next answer expected: a stretch and an offset in it.
    std::size_t m_stretch = 0;
    quint64 m_offset = 0;
    quint64 m_given = 0;
    quint64 m_sent = 0;
    bool m_endSeen = false;
    QString m_interface;
    QString m_why;
};
