// The ARP helper's sweep on a made-up clock: the bytes choose its ranges, pace and own
// address, then time passing, replies from anywhere and verdicts taken at any moment. A model
// checks each promise it makes (the texts of require below), and that it ends.
#include "arp/arpsweep.h"
#include "tests/fuzz/require.h"

#include <algorithm>
#include <deque>
#include <vector>

namespace {

using Clock = ArpSweep::Clock;
using namespace std::chrono_literals;

struct Address {
    std::uint32_t address = 0;
    int asked = 0;
    Clock::time_point askedAt[2] = {};
    std::optional<MacAddress> mac = {}; // of the reply that counted
    bool resolved = false; // the kernel was made to resolve it
    bool given = false;
};

struct Model {
    std::vector<Address> addresses; // in the ranges' order
    std::uint32_t own = 0;
    std::size_t rate = 1;
    std::size_t verdicts = 0;
    std::deque<Clock::time_point> spent; // requests and resolutions in the last second
    std::deque<Clock::time_point> tenth; // in the last tenth of a second

    Address *find(std::uint32_t address)
    {
        const auto found = std::find_if(addresses.begin(), addresses.end(), [&](auto &a) { return a.address == address; });
        return found == addresses.end() || address == own ? nullptr : &*found;
    }
    void spend(Clock::time_point now)
    {
        for (spent.push_back(now); now - spent.front() >= 1s;)
            spent.pop_front();
        for (tenth.push_back(now); now - tenth.front() >= 100ms;)
            tenth.pop_front();
        require(spent.size() <= rate, "no more in a second than the pace, nor the ceiling");
        require(tenth.size() <= std::max<std::size_t>(1, (rate + 9) / 10), "no more in a tenth than a tenth of the pace");
    }
    void sent(const ArpSweep::Send &send, Clock::time_point now)
    {
        Address *entry = find(send.address);
        if (send.kind == ArpSweep::Send::Kind::Resolve) {
            require(entry && entry->mac && !entry->resolved && !entry->given, "each answer resolved once, before its verdict");
            entry->resolved = true;
            spend(now);
            return;
        }
        require(entry && entry->asked < 2 && !entry->mac && !entry->given, "requests to waiting addresses, two each");
        require(entry->asked == 0 || now - entry->askedAt[0] >= ArpSweep::retryWait, "the second waits for the first");
        entry->askedAt[entry->asked++] = now;
        spend(now);
    }
    bool late(const Address &entry, Clock::time_point now) const
    {
        return entry.asked == 2 && now >= entry.askedAt[1] + ArpSweep::replyWait;
    }
    void heard(std::uint32_t sender, const MacAddress &mac, bool counted, Clock::time_point now)
    {
        Address *entry = find(sender);
        const bool waiting = entry && entry->asked > 0 && !entry->mac && !entry->given;
        require(counted ? waiting : !waiting || late(*entry, now), "a reply counts exactly while its address waits");
        if (counted)
            entry->mac = mac;
    }
    void verdict(const ArpSweep::Verdict &verdict, const MacAddress &ownMac, Clock::time_point now)
    {
        require(verdicts < addresses.size() && verdict.address == addresses[verdicts].address, "verdicts in order");
        Address &entry = addresses[verdicts++];
        entry.given = true;
        if (entry.address == own)
            require(verdict.mac == ownMac && entry.asked == 0, "the interface's own address, without a request");
        else
            require(verdict.mac == entry.mac && (entry.mac ? entry.resolved : late(entry, now)),
                    "someone exactly where a reply counted, once resolved");
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::size_t at = 0;
    const auto next = [&] { return at < size ? data[at++] : std::uint8_t(0); };
    const std::uint8_t shape = next();
    const std::uint32_t base = (shape & 1) ? 0xFFFFFFC0u : 0xC6120000u; // the top of the space, or not
    const std::uint32_t firstCount = next() % 48 + 1;
    const std::uint32_t gap = next() % 8 + 1;
    const std::uint32_t secondCount = (shape & 2) && !(shape & 1) ? next() % 16 + 1 : 0;
    const std::uint32_t requested = std::uint32_t(next()) << 12 | std::uint32_t(next()) << 4 | 1;
    std::vector<ArpRange> ranges{{base, base + firstCount - 1}};
    if (secondCount > 0)
        ranges.push_back({ranges[0].last + gap, ranges[0].last + gap + secondCount - 1});
    Model model{{}, base + next() % 64, std::min(requested, ArpSweep::maxRate), 0, {}, {}};
    for (const ArpRange &range : ranges) {
        for (std::uint64_t address = range.first; address <= range.last; ++address)
            model.addresses.push_back({std::uint32_t(address)});
    }
    const MacAddress ownMac{2, 0, 0, 0, 0, 1};
    Clock::time_point now = Clock::time_point() + 1h;
    ArpSweep sweep(ranges, requested, {model.own, ownMac}, now);
    const auto step = [&](bool takeVerdicts) {
        for (std::optional<ArpSweep::Send> send; (send = sweep.dueSend(now)); sweep.sent(now))
            model.sent(*send, now);
        while (const std::optional<ArpSweep::Verdict> verdict = takeVerdicts ? sweep.nextVerdict(now) : std::nullopt)
            model.verdict(*verdict, ownMac, now);
    };
    while (at < size) {
        const std::uint8_t operation = next(), argument = next();
        if (operation % 4 == 0) { // a while
            now += std::chrono::milliseconds(argument % 8 * 50 + 1);
        } else if (operation % 4 == 1) { // a reply from one of the ranges' addresses or around them
            const std::uint32_t sender = base + argument % (firstCount + gap + secondCount + 4) - 2;
            const MacAddress mac{2, 0, 0, 0, 1, argument};
            model.heard(sender, mac, sweep.heard({sender, mac}), now);
        } else { // a pass, with or without the walk taking verdicts
            now += std::chrono::milliseconds(argument % 16);
            step(operation % 4 == 2);
        }
    }
    // Left to itself it ends, within two requests an address at its pace and the waits.
    const Clock::time_point end = now + std::chrono::seconds(2 * model.addresses.size() / model.rate + 4);
    for (step(true); !sweep.isFinished() && now <= end; step(true)) {
        require(sweep.wakeAt().has_value(), "an unfinished sweep says when it acts next");
        now = std::max(now + 1us, *sweep.wakeAt());
    }
    require(sweep.isFinished() && model.verdicts == model.addresses.size(), "the sweep ends with every verdict");
    return 0;
}
