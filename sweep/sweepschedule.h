#pragma once

#include "arp/arppace.h"
#include "localnet/neighbourmessages.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <unordered_map>
#include <unordered_set>

// What the neighbour sweep learned of one address.
struct SweepVerdict final {
    enum class Kind {
        Someone, // the kernel resolved it, or knew it already
        Nobody, // the kernel gave up on it
        NoWord, // no decisive word in time, or no datagram could leave: probe it all the same
    };
    quint32 address = 0; // host byte order
    Kind kind = Kind::NoWord;

    bool operator==(const SweepVerdict &) const = default;
};

// The bookkeeping of a neighbour sweep: which addresses get a datagram when, what the
// kernel's word on each is, and the verdicts in the scan's order. No sockets and no clock
// of its own: the owner sends, reads, and passes the time in. One thread.
//
// The addresses come from a source, one at a time and only as far ahead as the verdicts
// taken allow, so its memory is bounded however large the scan is.
class SweepSchedule final {
public:
    using Clock = std::chrono::steady_clock;
    // The next address in the scan's order, and the interface its datagram leaves by. Nothing
    // with `more` set: the source looked at enough addresses for one call and is asked again
    // at the loop's next pass; nothing without it: the last was given.
    struct Next final {
        std::optional<quint32> address;
        bool more = false;
        int interfaceIndex = 0;
    };
    using Source = std::function<Next()>;

    // Datagrams sent whose address has no verdict yet: the kernel's table stays well under
    // its default limits.
    static constexpr int maxUnresolved = 256;
    // Addresses taken from the source whose verdict has not been handed out.
    static constexpr std::size_t maxAhead = 4096;
    // Datagrams a second at most, whatever the pace: the kernel's work for them stays small.
    static constexpr std::uint32_t maxSendRate = 1000;
    // The kernel gives up on an address after about 3 s.
    static constexpr std::chrono::seconds wordWait{4};
    // How long sends wait for a dump of the table to end.
    static constexpr std::chrono::seconds dumpWait{1};
    // Addresses remembered as someone before they are given.
    static constexpr std::size_t maxKnown = 65'536;

    // Sends wait for the first dump's end (dumpEnded()), or dumpWait after `now`, and none
    // leaves before `now`, which may lie ahead. With an ARP pace, each datagram counts as the
    // kernel's asks for an address (arp/arppace.h); the pace may hold requests made before.
    SweepSchedule(Source addresses, Clock::time_point now, std::optional<ArpPace> pace = std::nullopt);

    // The kernel's word on one entry, from a dump or a change. Only a word from the interface
    // an address's datagram leaves by counts for it: another interface on the same subnet (a
    // second link, a bridge) keeps entries of its own, which say nothing of this link. Someone
    // settles an address given and not yet settled; nobody settles one whose datagram was sent (an older FAILED
    // entry may be out of date). Words on settled addresses are ignored. The last word on an
    // address not given yet is remembered, so that one the table already shows as someone
    // (other traffic resolved it) is settled, when given, without a datagram: a datagram to
    // a resolved address changes nothing, and no word would come.
    void heard(const NeighbourEntry &entry);
    // A dump of the table ended whole: sends may go on.
    void dumpEnded();
    // Words may have been lost (ENOBUFS, an interrupted dump): the owner dumps again, and
    // sends wait for that dump's end, or dumpWait after `now`. What was settled stays so.
    void wordsLost(Clock::time_point now);

    // The address to send one datagram to now, if one is due. The same one until sent() or
    // sendFailed() says what became of it.
    std::optional<quint32> dueSend(Clock::time_point now);
    // The datagram to the address dueSend() gave left; `now` is taken after it did.
    void sent(quint32 address, Clock::time_point now);
    // It could not be sent: the address is settled as NoWord.
    void sendFailed(quint32 address);

    // The verdict on the next address in the scan's order, once it is settled.
    std::optional<SweepVerdict> nextVerdict(Clock::time_point now);
    // When the schedule next has something to do of its own accord (a send the rate held
    // back, a wait for a word that ends, a source to ask again); nothing when only a word,
    // or a verdict taken, can move it. Valid after dueSend() and nextVerdict() have given
    // what they had.
    std::optional<Clock::time_point> wakeAt() const;
    // Every address given and its verdict handed out.
    bool isFinished() const { return m_sourceEnded && m_window.empty(); }

private:
    enum class Step { Waiting, Sent, Settled };
    struct Entry final {
        quint32 address = 0;
        int interfaceIndex = 0;
        Step step = Step::Waiting;
        SweepVerdict::Kind kind = SweepVerdict::Kind::NoWord;
        Clock::time_point sentAt;
    };

    Entry &at(std::uint64_t position) { return m_window[std::size_t(position - m_first)]; }
    const Entry &at(std::uint64_t position) const { return m_window[std::size_t(position - m_first)]; }
    // Takes addresses from the source up to the look-ahead.
    void fill();
    void updateSlot(Clock::time_point now);
    void settle(std::uint64_t position, SweepVerdict::Kind kind);
    void expire(Clock::time_point now);
    // Drops settled entries from the front of the expiries.
    void pruneExpiries();
    // The first waiting entry from m_nextSend on, or the window's end.
    std::uint64_t firstWaiting() const;

    Source m_source;
    bool m_sourceEnded = false;
    bool m_sourcePaused = false; // it said "more" with room in the window
    // Positions count the addresses given, from 0; the window starts at m_first.
    std::deque<Entry> m_window;
    std::uint64_t m_first = 0;
    std::unordered_multimap<quint32, std::uint64_t> m_unsettled; // address -> position
    std::deque<std::uint64_t> m_expiries; // the sent, in the order sent
    std::uint64_t m_nextSend = 0; // no waiting entry before it
    int m_unresolved = 0;
    std::unordered_set<std::uint64_t> m_known; // someone, and not given yet: address and interface
    std::optional<Clock::time_point> m_heldUntil;
    ArpPace m_sends; // the datagrams, one request each
    std::optional<ArpPace> m_pace; // the ARP pace, the kernel's asks for each
    Clock::time_point m_slot; // the next send both allow, as of the last dueSend() or sent()
};
