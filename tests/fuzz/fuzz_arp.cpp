// What reaches the ARP helper from outside: its input lines (from devicefinder, but parsed
// as if from anyone) and the packets on its link; and the helper's answers, which
// devicefinder reads.
#include "arp/arpanswers.h"
#include "arp/arpinput.h"
#include "tests/fuzz/require.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    ArpInputParser parser;
    std::uint64_t addresses = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t newline = std::min(text.find('\n', start), text.size());
        const std::string_view line = text.substr(start, newline - start);
        const ArpInputParser::Status status = parser.feed(line);
        require(status != ArpInputParser::Status::Bad || !parser.error().empty(), "a bad input says why");
        if (const std::optional<ArpAnswer> answer = parseAnswerLine(line))
            require(answerLine(*answer) == line, "an answer reads back as written");
        start = newline + 1;
    }
    for (const ArpRange &range : parser.input().ranges) {
        require(range.first <= range.last, "a range runs upwards");
        addresses += std::uint64_t(range.last - range.first) + 1;
    }
    require(addresses <= ArpInputParser::maxAddresses, "the addresses are bounded");
    if (const std::optional<ArpReply> reply = parseArpReply(data, size, 0xC61200FE))
        require((reply->senderMac[0] & 1) == 0, "a reply comes from a unicast address");
    return 0;
}
