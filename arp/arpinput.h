#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What devicefinder asks of the helper, read from its standard input one line at a time:
//   devicefinder-arp 1
//   interface NAME
//   rate N                 (optional: requests a second, at most)
//   range FIRST LAST       (IPv4 addresses, FIRST <= LAST; repeatable)
//   held AT LATE           (optional, repeatable: a request someone else makes at AT, in
//                           nanoseconds of the monotonic clock, up to LATE nanoseconds
//                           late, which the pace counts; see arp/arppace.h)
//   end
// Bounded: lines of at most maxLine bytes, at most maxAddresses addresses in all.
struct ArpRange final {
    std::uint32_t first = 0; // host byte order
    std::uint32_t last = 0;
};

struct ArpHeld final {
    std::uint64_t at = 0;
    std::uint64_t late = 0;
};

struct ArpInput final {
    std::string interface;
    std::optional<std::uint32_t> rate;
    std::vector<ArpRange> ranges;
    std::vector<ArpHeld> held;
};

class ArpInputParser final {
public:
    static constexpr std::size_t maxLine = 256;
    static constexpr std::uint64_t maxAddresses = 16'777'216;
    static constexpr std::size_t maxRanges = 65'536;
    static constexpr std::uint32_t maxRate = 1'000'000;
    static constexpr std::size_t maxHeld = 16'384;

    enum class Status { More, Done, Bad };

    // One line without its newline. Once Done or Bad, every further line is Bad.
    Status feed(std::string_view line);
    // Why the input is bad, once it is.
    const std::string &error() const { return m_error; }
    const ArpInput &input() const { return m_input; }

private:
    Status bad(std::string why);

    enum class Expect { Version, Interface, Body, Nothing };
    Expect m_expect = Expect::Version;
    ArpInput m_input;
    std::uint64_t m_addresses = 0;
    std::string m_error;
};
