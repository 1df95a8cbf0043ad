#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

// The ARP pace, one rule wherever requests leave on a sweep's behalf: at most `rate` requests
// in any second and at most max(1, ceil(rate / 10)) in any tenth of a second, however the
// seconds and tenths are laid. Asks are spaced evenly where they can be; slots a late wake-up
// missed by up to maxCatchUp are made up, within both counts.
//
// An ask is a request sent at once (the helper's own, or the kernel's for an address that
// has just answered), or the kernel's for an address it does not know: it asks at once, a
// little after the datagram or connection that makes it ask was counted, and again a second
// and two seconds later, each of its timers up to kernelTimerLateness late. A request is
// counted where it may fall: a window holds that many only where they surely can share it,
// the earliest of them as late as it may be. The caller asks for the slot before it sends and
// counts the ask with a time taken after it sent, so the requests on the wire keep the counts
// too. No clock of its own; one thread.
class ArpPace final {
public:
    using Clock = std::chrono::steady_clock;
    enum class Ask {
        Request, // one request, counted when it left
        Kernel, // the kernel's three, a second apart, each up to kernelLateness late
    };
    static constexpr std::chrono::milliseconds maxCatchUp{20};
    static constexpr int kernelRequests = 3;
    // How late the kernel's first request may leave after its ask was counted, and how late
    // each of its retransmission timers may fire (the timer wheel's granularity at a second).
    static constexpr std::chrono::milliseconds kernelAskLateness{20};
    static constexpr std::chrono::milliseconds kernelTimerLateness{75};
    // The latest any of the kernel's requests may be.
    static constexpr std::chrono::milliseconds kernelLateness = kernelAskLateness + 2 * kernelTimerLateness;

    // A request counted at `at`, which may leave up to `late` after it.
    struct Request final {
        Clock::time_point at;
        Clock::duration late{0};
        bool operator==(const Request &) const = default;
    };

    // `rate` requests a second (at least 1); no ask before `from`.
    ArpPace(std::uint32_t rate, Clock::time_point from);

    std::uint32_t rate() const { return m_rate; }
    // The first time from `now` on when `ask` keeps the pace: `now` itself when it is due.
    Clock::time_point slot(Ask ask, Clock::time_point now) const;
    // `ask` was made at `at`, the time taken once its request left.
    void spend(Ask ask, Clock::time_point at);
    // A request someone else makes (a watch's asks before the helper's sweep): it takes its
    // place in both counts.
    void hold(const Request &request);
    // The requests counted that may still share a window with an ask from `now` on, as
    // hold() takes them.
    std::vector<Request> heldFrom(Clock::time_point now) const;

private:
    // Nothing when one more request keeps both counts; else the first time worth trying.
    std::optional<Clock::time_point> blocked(const Request &request) const;
    void count(const Request &request);

    std::uint32_t m_rate;
    std::uint32_t m_perTenth;
    Clock::duration m_interval; // between requests at the steady pace
    Clock::time_point m_nextAt; // the even spacing's next slot
    std::deque<Request> m_counts; // by time; some may lie ahead
};
