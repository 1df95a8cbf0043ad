#pragma once

#include "arp/arpframe.h"
#include "arp/arpinput.h"
#include "arp/arppace.h"

#include <chrono>
#include <deque>
#include <unordered_map>

// The helper's sweep of its ranges: one request per address, a second after retryWait to
// those that did not answer, nobody replyWait after that. The requests keep the pace
// (arp/arppace.h) at `rate`, never above maxRate whatever it is asked. An address that
// answers is resolved by the kernel too (the owner sends it a datagram, and the kernel asks
// once), so that devicefinder's connection finds it known: that request takes a slot of the
// pace like the helper's own, and the answer is given only once it has left. Verdicts come
// in the ranges' order. No socket and no clock of its own: the owner sends, reads, and
// passes the time in. Memory is bounded by maxAhead however many addresses there are.
class ArpSweep final {
public:
    using Clock = std::chrono::steady_clock;
    // The helper's own ceiling: any local user may start it, and ask it for any pace.
    static constexpr std::uint32_t maxRate = 2000;
    static constexpr std::chrono::milliseconds retryWait{1000};
    static constexpr std::chrono::milliseconds replyWait{1000};
    // What an address nobody holds costs: its request and the one a retryWait later.
    static constexpr int requestsPerAddress = 2;
    static constexpr std::size_t maxAhead = 16'384;

    struct Verdict final {
        std::uint32_t address = 0;
        std::optional<MacAddress> mac; // nothing: nobody answered
    };

    // What leaves next: an ARP request, or the datagram that has the kernel resolve an
    // address that answered.
    struct Send final {
        enum class Kind { Request, Resolve };
        Kind kind = Kind::Request;
        std::uint32_t address = 0;
        bool operator==(const Send &) const = default;
    };

    // `own` answers for the interface's own address at once: no request leaves for it.
    // `held`: requests others make meanwhile (arp/arppace.h, hold()), which the pace counts.
    ArpSweep(std::vector<ArpRange> ranges, std::uint32_t rate, const ArpReply &own, Clock::time_point now,
             const std::vector<ArpPace::Request> &held = {});

    // What is due now; the same until sent() says it left.
    std::optional<Send> dueSend(Clock::time_point now);
    // It left; `now` is taken after it did.
    void sent(Clock::time_point now);
    // A reply; it counts only for an address asked and not yet answered: true then.
    bool heard(const ArpReply &reply);
    // The verdict on the next address in order, once there is one.
    std::optional<Verdict> nextVerdict(Clock::time_point now);
    // When the sweep next has something to do of its own accord; nothing once finished. Valid
    // after dueSend() has given what it had.
    std::optional<Clock::time_point> wakeAt() const;
    bool isFinished() const;

    std::uint64_t requestsSent() const { return m_sent; }

private:
    enum class Step { Waiting, AskedOnce, AskedTwice, Answered, Settled };
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
    // What is due next by `now`, the pace aside: its kind and position.
    std::optional<std::pair<Send::Kind, std::uint64_t>> nextSend(Clock::time_point now) const;
    // Drops the answered from a queue's front; the rest are skipped as they come to it.
    void prune(std::deque<std::uint64_t> &queue) const;

    ArpReply m_own;
    std::vector<ArpRange> m_ranges;
    std::size_t m_range = 0;
    std::uint64_t m_nextInRange = 0; // offset in m_ranges[m_range]
    ArpPace m_pace;
    Clock::time_point m_slot; // the pace's next slot, as of the last dueSend() or sent()
    std::optional<std::pair<Send::Kind, std::uint64_t>> m_due; // what dueSend() gave
    std::deque<Entry> m_window;
    std::uint64_t m_first = 0; // position of the window's front
    std::uint64_t m_nextNew = 0; // the first position not asked yet
    std::deque<std::uint64_t> m_askedOnce; // in the order asked; may hold the answered
    std::deque<std::uint64_t> m_askedTwice;
    std::deque<std::uint64_t> m_answered; // to be resolved, in the order answered
    std::unordered_multimap<std::uint32_t, std::uint64_t> m_asked; // address -> position, unsettled
    std::uint64_t m_sent = 0;
};
