#include "arp/arpanswers.h"

#include "address/ipv4text.h"

#include <charconv>
#include <vector>

namespace {

std::optional<MacAddress> parseMac(std::string_view text)
{
    constexpr char digits[] = "0123456789abcdef";
    if (text.size() != 17)
        return std::nullopt;
    MacAddress mac{};
    for (std::size_t i = 0; i < 6; ++i) {
        if (i < 5 && text[i * 3 + 2] != ':')
            return std::nullopt;
        const std::string_view hex = text.substr(i * 3, 2);
        const std::size_t high = std::string_view(digits).find(hex[0]);
        const std::size_t low = std::string_view(digits).find(hex[1]);
        if (high == std::string_view::npos || low == std::string_view::npos)
            return std::nullopt;
        mac[i] = std::uint8_t(high << 4 | low);
    }
    return mac;
}

std::optional<std::uint64_t> parseCount(std::string_view text)
{
    std::uint64_t value = 0;
    if (text.empty() || text.size() > 19 || (text.size() > 1 && text[0] == '0'))
        return std::nullopt;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::vector<std::string_view> splitWords(std::string_view line)
{
    std::vector<std::string_view> words;
    while (words.size() <= 8) {
        const std::size_t space = line.find(' ');
        words.push_back(line.substr(0, space));
        if (space == std::string_view::npos)
            break;
        line.remove_prefix(space + 1);
    }
    return words;
}

} // namespace

std::string macText(const MacAddress &mac)
{
    constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t octet : mac) {
        if (!text.empty())
            text += ':';
        text += digits[octet >> 4];
        text += digits[octet & 0xf];
    }
    return text;
}

std::string answerLine(const ArpAnswer &answer)
{
    switch (answer.kind) {
    case ArpAnswer::Kind::Greeting:
        return std::string(arpGreeting);
    case ArpAnswer::Kind::Someone:
        return "someone " + ipv4Text(answer.address) + ' ' + macText(answer.mac);
    case ArpAnswer::Kind::Nobody:
        return "nobody " + ipv4Text(answer.address);
    case ArpAnswer::Kind::End:
        break;
    }
    return "end sent " + std::to_string(answer.sent) + " someone " + std::to_string(answer.someone) + " nobody "
        + std::to_string(answer.nobody);
}

std::optional<ArpAnswer> parseAnswerLine(std::string_view line)
{
    if (line == arpGreeting)
        return ArpAnswer{};
    const std::vector<std::string_view> words = splitWords(line);
    ArpAnswer answer;
    if (words.size() == 7 && words[0] == "end" && words[1] == "sent" && words[3] == "someone" && words[5] == "nobody") {
        const std::optional<std::uint64_t> sent = parseCount(words[2]);
        const std::optional<std::uint64_t> someone = parseCount(words[4]);
        const std::optional<std::uint64_t> nobody = parseCount(words[6]);
        if (!sent || !someone || !nobody)
            return std::nullopt;
        return ArpAnswer{ArpAnswer::Kind::End, 0, {}, *sent, *someone, *nobody};
    }
    const std::optional<std::uint32_t> address = words.size() >= 2 ? parseIPv4(words[1]) : std::nullopt;
    if (!address)
        return std::nullopt;
    answer.address = *address;
    if (words.size() == 2 && words[0] == "nobody") {
        answer.kind = ArpAnswer::Kind::Nobody;
        return answer;
    }
    if (words.size() != 3 || words[0] != "someone")
        return std::nullopt;
    const std::optional<MacAddress> mac = parseMac(words[2]);
    if (!mac)
        return std::nullopt;
    answer.kind = ArpAnswer::Kind::Someone;
    answer.mac = *mac;
    return answer;
}
