#pragma once

#include "arp/arpframe.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// What the helper writes on its standard output, one line each:
//   devicefinder-arp 1                          (its socket is open, its privilege gone)
//   someone ADDRESS MAC | nobody ADDRESS        (one per address, in the order asked)
//   end sent N someone N nobody N               (the last)
// and how it exits. Both the helper and devicefinder use these.
enum class ArpExit : int {
    Done = 0,
    Failed = 1, // a system call failed part way
    BadInput = 2,
    NoSocket = 3, // no packet socket: the capability is missing
    BadInterface = 4,
    InputClosed = 5, // the input ended before the sweep did: devicefinder stopped it
};

inline constexpr std::string_view arpGreeting = "devicefinder-arp 1";

struct ArpAnswer final {
    enum class Kind { Greeting, Someone, Nobody, End };
    Kind kind = Kind::Greeting;
    std::uint32_t address = 0;
    MacAddress mac{};
    std::uint64_t sent = 0; // End's counts
    std::uint64_t someone = 0;
    std::uint64_t nobody = 0;
};

std::string answerLine(const ArpAnswer &answer);
// One line without its newline; nothing for anything malformed.
std::optional<ArpAnswer> parseAnswerLine(std::string_view line);
std::string macText(const MacAddress &mac);
