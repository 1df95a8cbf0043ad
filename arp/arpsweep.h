#pragma once

#include "arp/arpframe.h"
#include "arp/arpinput.h"

#include <chrono>
#include <deque>
#include <unordered_map>

// The helper's sweep of its ranges: one request per address, a second after retryWait to
// those that did not answer, nobody replyWait after that. At most `rate` requests in any
// second, evenly spaced where it can be, never more than maxRate whatever it is asked; an
// answer counts as one request too: the owner has the kernel resolve the address then (one
// request), so that devicefinder's connection finds it known. Verdicts come in the ranges'
// order. No socket and no clock of its own: the owner sends, reads, and passes the time in.
// Memory is bounded by maxAhead however many addresses there are.
class ArpSweep final {
public:
    using Clock = std::chrono::steady_clock;
    // The helper's own ceiling: any local user may start it, and ask it for any pace.
    static constexpr std::uint32_t maxRate = 2000;
    static constexpr std::chrono::milliseconds retryWait{1000};
    static constexpr std::chrono::milliseconds replyWait{1000};
    static constexpr std::size_t maxAhead = 16'384;
    // Slots of the pace missed by up to this much are made up.
    static constexpr std::chrono::milliseconds maxCatchUp{20};

    struct Verdict final {
        std::uint32_t address = 0;
        std::optional<MacAddress> mac; // nothing: nobody answered
    };

    // `own` answers for the interface's own address at once: no request leaves for it.
    ArpSweep(std::vector<ArpRange> ranges, std::uint32_t rate, const ArpReply &own, Clock::time_point now);

    // The address a request is due for now; the same until sent() says it left.
    std::optional<std::uint32_t> dueRequest(Clock::time_point now);
    void sent(Clock::time_point now);
    // A reply; it counts only for an address asked and not yet answered: true then.
    bool heard(const ArpReply &reply, Clock::time_point now);
    // The verdict on the next address in order, once there is one.
    std::optional<Verdict> nextVerdict(Clock::time_point now);
    // When the sweep next has something to do of its own accord; nothing once finished.
    std::optional<Clock::time_point> wakeAt() const;
    bool isFinished() const;

    std::uint64_t requestsSent() const { return m_sent; }

private:
    enum class Step { Waiting, AskedOnce, AskedTwice, Settled };
    struct Entry final {
        std::uint32_t address = 0;
        Step step = Step::Waiting;
        Clock::time_point askedAt;
        std::optional<MacAddress> mac;
    };

    Entry &at(std::uint64_t position) { return m_window[std::size_t(position - m_first)]; }
    const Entry &at(std::uint64_t position) const { return m_window[std::size_t(position - m_first)]; }
    void fill();
    void expire(Clock::time_point now);
    // The position of the request due next, if any is due by `now` (rate aside).
    std::optional<std::uint64_t> nextRequest(Clock::time_point now) const;
    // Drops the answered from a queue's front; the rest are skipped as they come to it.
    void prune(std::deque<std::uint64_t> &queue) const;
    // When the pace allows the next request: its even spacing, and never more than the
    // rate in any second.
    Clock::time_point nextSlot() const;
    // A request sent, or an answer (which the kernel is made to resolve), at `now`.
    void spend(Clock::time_point now);

    ArpReply m_own;
    std::vector<ArpRange> m_ranges;
    std::size_t m_range = 0;
    std::uint64_t m_nextInRange = 0; // offset in m_ranges[m_range]
    const std::uint32_t m_rate;
    const std::chrono::nanoseconds m_interval;
    Clock::time_point m_nextAt; // the pace: no request before it
    std::deque<Clock::time_point> m_recent; // the last m_rate requests and answers
    std::deque<Entry> m_window;
    std::uint64_t m_first = 0; // position of the window's front
    std::uint64_t m_nextNew = 0; // the first position not asked yet
    std::deque<std::uint64_t> m_askedOnce; // in the order asked; may hold the answered
    std::deque<std::uint64_t> m_askedTwice;
    std::unordered_multimap<std::uint32_t, std::uint64_t> m_asked; // address -> position, unsettled
    std::uint64_t m_sent = 0;
};
