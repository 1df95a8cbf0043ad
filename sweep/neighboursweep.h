#pragma once

#include "probes/loopwork.h"
#include "sweep/arphelpersweep.h"
#include "sweep/discardsocket.h"
#include "sweep/neighboursocket.h"
#include "sweep/sweepschedule.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>

// The neighbour sweep of one scan: which of its addresses on this computer's links nobody
// holds, learnt before they are probed. Each gets one datagram to its discard port, which
// makes the kernel resolve it, and the kernel's neighbour table is followed over rtnetlink;
// the schedule (sweep/sweepschedule.h) keeps the books. The network thread runs it in its
// epoll loop until every verdict has been taken, it fails, or the run stops, and then closes
// its sockets; nothing of it outlives the run. The scan's walk takes the verdicts in order.
// Where devicefinder-arp is given, it asks the link instead (sweep/arphelpersweep.h), and
// the kernel does only when the helper cannot.
class NeighbourSweep final : public LoopWork {
public:
    // Verdicts handed to the walk and not yet taken, at most: with the schedule's look-ahead,
    // the sweep's memory is bounded however large the scan is.
    static constexpr std::size_t maxHanded = 1024;

    struct Options final {
        // ARP requests in any second, at most, counting three for each address the kernel
        // looks for; 0 for no pace of the user's.
        quint32 arpRate = 0;
        // The helper program, empty for none.
        QString helper;
        // The pace at `arpRate` to go on with, the requests made before the sweep counted in
        // it (a watch's asks); none for a pace of the sweep's own.
        std::optional<ArpPace> pace;
    };

    // Opens the two sockets. Given to the network thread (NetworkLoop::startWork), the sweep
    // calls `addresses` there for the addresses to sweep, in the walk's order. Nothing, with
    // why, when a socket cannot be opened. Any thread.
    static std::shared_ptr<NeighbourSweep> open(SweepSchedule::Source addresses, std::stop_token stop,
                                                const Options &options, QString *why);

    // The walk's, one thread. The verdict on the next address swept, which is `address`, as
    // soon as the sweep has it: NoWord once the sweep has failed or has no more, nothing once
    // the run is stopped.
    std::optional<SweepVerdict::Kind> verdict(quint32 address);
    // Why the sweep failed part way; empty while it has not. How often the kernel's changes
    // were lost, and its table read again. Any thread.
    QString failure() const;
    int timesLost() const;
    // How the sweep asks, and why, once that is settled (by its first verdict): empty before,
    // and when no helper was given. Any thread.
    QString how() const;
    // Whether the helper asked (rather than the kernel), and the ARP requests it sent, once
    // it has said: it says with its last answers, so this waits a second at most for that.
    bool helperAsked() const;
    std::optional<quint64> helperRequests() const;
    // Lines for the log since the last call: the helper's pace lowered to its ceiling, its
    // deadline passed. Any thread.
    QStringList takeNotes();
    // Datagrams that made the kernel look for an address. Any thread.
    quint64 datagramsSent() const;

    // The network thread's: on each pass it reads the changes, sends what is due and hands
    // out verdicts.
    void begin(int epoll) override;
    bool owns(int descriptor) const override;
    void act(int epoll, Clock::time_point now) override;
    std::optional<Clock::time_point> wakeAt() const override;
    bool isOver() const override { return m_over; }
    void end(int epoll) override;

    NeighbourSweep(SweepSchedule::Source addresses, std::stop_token stop, const Options &options);

private:
    void readChanges(Clock::time_point now);
    void requestDump();
    void sendDue(int epoll, Clock::time_point now);
    void handVerdicts(Clock::time_point now);
    void fail(const QString &why);
    void actWithHelper(int epoll, Clock::time_point now);
    // From the helper to the kernel's sweep of the addresses it has not answered, which
    // sends from `sendsFrom` on.
    void toKernel(int epoll, Clock::time_point now, Clock::time_point sendsFrom);

    const std::stop_token m_stop;
    std::optional<std::stop_callback<std::function<void()>>> m_wakeOnStop; // network thread
    // Network thread only.
    std::unique_ptr<NeighbourSocket> m_neighbours = std::make_unique<NeighbourSocket>();
    std::unique_ptr<DiscardSocket> m_discard = std::make_unique<DiscardSocket>();
    std::optional<SweepSchedule> m_schedule;
    std::unique_ptr<ArpHelperSweep> m_helper;
    std::optional<ArpPace> m_pace; // the user's, the kernel's asks counted in it
    const quint32 m_arpRate;
    quint32 m_sequence = 0;
    bool m_dumping = false;
    bool m_dumpAgain = false;
    bool m_interrupted = false;
    bool m_waitingToSend = false; // the send buffer was full: the descriptor is watched for room
    bool m_over = false;

    mutable std::mutex m_mutex;
    mutable std::condition_variable_any m_handed;
    std::deque<SweepVerdict> m_verdicts; // under m_mutex
    QString m_failure; // under m_mutex
    // Every verdict handed out: a walk that asks for more is not kept waiting. Under m_mutex.
    bool m_finished = false;
    int m_timesLost = 0; // under m_mutex
    QString m_how; // under m_mutex
    std::optional<quint64> m_helperRequests; // under m_mutex
    bool m_helperAsks = false; // under m_mutex: the helper gave a verdict
    bool m_helperEnded = false; // under m_mutex: past its deadline, it says nothing more
    QStringList m_notes; // under m_mutex
    std::atomic<quint64> m_datagrams{0};
};
