// The ARP helper's sweep, driven by the fuzzer's bytes on a made-up clock: its ranges, its
// pace and its own address, then time passing, replies from anywhere (asked or not, on time
// or late, twice) and verdicts taken at any moment. A model of what it promises checks each
// step: requests only for the ranges' addresses, at most two each, a second after a wait,
// at the pace and never above the ceiling; a reply counts while its address waits for one
// and at no other time; verdicts in order, someone exactly for an address whose reply
// counted; and a sweep that always ends.
#include "arp/arpsweep.h"
#include "tests/fuzz/require.h"

#include <cstdint>
#include <deque>
#include <vector>

namespace {

using Clock = ArpSweep::Clock;
using namespace std::chrono_literals;

struct Bytes {
    const std::uint8_t *data;
    std::size_t size;
    std::size_t at = 0;
    std::uint8_t next() { return at < size ? data[at++] : 0; }
    bool more() const { return at < size; }
};

struct Address {
    std::uint32_t address = 0;
    int asked = 0;
    Clock::time_point askedAt[2];
    std::optional<MacAddress> mac; // a reply that counted
    bool given = false;
};

struct Model {
    std::vector<Address> addresses; // in the ranges' order
    std::uint32_t own = 0;
    std::uint32_t rate = 1;
    std::size_t nextVerdict = 0;
    std::deque<Clock::time_point> recent; // the last `rate` requests

    Address *find(std::uint32_t address)
    {
        for (Address &entry : addresses) {
            if (entry.address == address)
                return &entry;
        }
        return nullptr;
    }

    void sent(std::uint32_t target, Clock::time_point now)
    {
        Address *entry = find(target);
        require(entry && target != own, "a request goes only to a range's address, never the interface's own");
        require(entry->asked < 2 && !entry->mac && !entry->given, "at most two requests, none once settled");
        require(entry->asked == 0 || now - entry->askedAt[0] >= ArpSweep::retryWait, "the second waits for the first");
        entry->askedAt[entry->asked++] = now;
        if (recent.size() == rate) {
            require(now - recent.front() > 1s, "no more requests in a second than the pace, nor the ceiling");
            recent.pop_front();
        }
        recent.push_back(now);
    }

    void heard(std::uint32_t sender, const MacAddress &mac, bool counted, Clock::time_point now)
    {
        Address *entry = find(sender);
        const bool waiting = entry && entry->asked > 0 && !entry->mac && !entry->given && sender != own;
        require(!counted || waiting, "a reply counts only for an address asked and not settled");
        const bool onTime = waiting && (entry->asked < 2 || now < entry->askedAt[1] + ArpSweep::replyWait);
        require(counted || !onTime, "a reply to either request counts while its verdict waits");
        if (counted)
            entry->mac = mac;
    }

    void verdict(const ArpSweep::Verdict &verdict, const MacAddress &ownMac, Clock::time_point now)
    {
        require(nextVerdict < addresses.size(), "a verdict for each address, no more");
        Address &entry = addresses[nextVerdict++];
        require(verdict.address == entry.address, "verdicts in the ranges' order");
        entry.given = true;
        if (entry.address == own) {
            require(verdict.mac == ownMac && entry.asked == 0, "the interface's own address, without a request");
            return;
        }
        require(verdict.mac == entry.mac, "someone exactly when a reply counted, with its MAC");
        if (!verdict.mac)
            require(entry.asked == 2 && now >= entry.askedAt[1] + ArpSweep::replyWait, "nobody only after two requests");
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Bytes bytes{data, size};
    const std::uint8_t shape = bytes.next();
    const std::uint32_t base = (shape & 1) ? 0xFFFFFFC0u : 0xC6120000u; // the top of the space, or not
    const std::uint32_t firstCount = bytes.next() % 48 + 1;
    const std::uint32_t gap = bytes.next() % 8 + 1;
    const std::uint32_t secondCount = (shape & 2) && base == 0xC6120000u ? bytes.next() % 16 + 1 : 0;
    const std::uint32_t requested = std::uint32_t(bytes.next()) << 12 | std::uint32_t(bytes.next()) << 4 | 1;
    std::vector<ArpRange> ranges{{base, base + std::min<std::uint32_t>(firstCount, 0xFFFFFFFFu - base + 1) - 1}};
    if (secondCount > 0)
        ranges.push_back({ranges[0].last + gap, ranges[0].last + gap + secondCount - 1});

    Model model;
    for (const ArpRange &range : ranges) {
        for (std::uint64_t address = range.first; address <= range.last; ++address)
            model.addresses.push_back(Address{std::uint32_t(address), 0, {}, {}, false});
    }
    model.own = base + bytes.next() % 64;
    model.rate = std::min(requested, ArpSweep::maxRate);
    const MacAddress ownMac{2, 0, 0, 0, 0, 1};

    Clock::time_point now = Clock::time_point() + 1h;
    ArpSweep sweep(ranges, requested, {model.own, ownMac}, now);
    const auto step = [&](bool takeVerdicts) {
        while (const std::optional<std::uint32_t> target = sweep.dueRequest(now)) {
            model.sent(*target, now);
            sweep.sent(now);
        }
        while (takeVerdicts) {
            const std::optional<ArpSweep::Verdict> verdict = sweep.nextVerdict(now);
            if (!verdict)
                break;
            model.verdict(*verdict, ownMac, now);
        }
    };

    while (bytes.more()) {
        const std::uint8_t operation = bytes.next();
        const std::uint8_t argument = bytes.next();
        switch (operation % 4) {
        case 0: // a while, in steps of up to 50 ms
            now += std::chrono::milliseconds(argument % 8 * 50 + 1);
            break;
        case 1: { // a reply, from one of the ranges' addresses or around them
            const std::uint32_t sender = base + argument % (firstCount + gap + secondCount + 4) - 2;
            const MacAddress mac{2, 0, 0, 0, 1, argument};
            model.heard(sender, mac, sweep.heard({sender, mac}, now), now);
            break;
        }
        case 2:
            step(true);
            break;
        case 3: // sends without a verdict taken: the walk is behind
            now += std::chrono::milliseconds(argument % 16);
            step(false);
            break;
        }
    }
    // Left to itself, it ends: within two requests an address at its pace, and the waits.
    const Clock::time_point end = now + std::chrono::seconds(2 * model.addresses.size() / model.rate + 4);
    while (now <= end) {
        step(true);
        if (sweep.isFinished())
            break;
        const std::optional<Clock::time_point> wake = sweep.wakeAt();
        require(wake.has_value(), "an unfinished sweep says when it acts next");
        now = std::max(now + 1us, *wake);
    }
    require(sweep.isFinished() && model.nextVerdict == model.addresses.size(), "the sweep ends with every verdict");
    require(sweep.requestsSent() <= 2 * model.addresses.size(), "at most two requests an address");
    return 0;
}
