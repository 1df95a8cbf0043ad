#include "arp/arpinput.h"

#include "address/ipv4text.h"

#include <charconv>

namespace {

// The words of a line, split at single spaces; an empty word (two spaces, a leading or
// trailing space) makes it malformed.
std::optional<std::vector<std::string_view>> words(std::string_view line)
{
    std::vector<std::string_view> result;
    while (result.size() < 4) {
        const std::size_t space = line.find(' ');
        const std::string_view word = line.substr(0, space);
        if (word.empty())
            return std::nullopt;
        result.push_back(word);
        if (space == std::string_view::npos)
            return result;
        line.remove_prefix(space + 1);
    }
    return std::nullopt;
}

std::optional<std::uint32_t> decimal(std::string_view text, std::uint32_t max)
{
    if (text.empty() || text.size() > 10 || (text.size() > 1 && text[0] == '0'))
        return std::nullopt;
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value > max)
        return std::nullopt;
    return std::uint32_t(value);
}

std::optional<std::uint64_t> nanoseconds(std::string_view text)
{
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

bool interfaceName(std::string_view name)
{
    // The kernel's own rule: under 16 bytes, no slash, no space, not . or ..
    if (name.empty() || name.size() > 15 || name == "." || name == "..")
        return false;
    for (const char c : name) {
        if (c == '/' || c == ':' || std::uint8_t(c) <= ' ' || std::uint8_t(c) >= 0x7f)
            return false;
    }
    return true;
}

} // namespace

ArpInputParser::Status ArpInputParser::feed(std::string_view line)
{
    if (m_expect == Expect::Nothing)
        return bad(m_error.empty() ? "input after its end" : m_error);
    if (line.size() > maxLine)
        return bad("a line longer than " + std::to_string(maxLine) + " bytes");
    const std::optional<std::vector<std::string_view>> parts = words(line);
    if (!parts)
        return bad("a malformed line");
    const std::vector<std::string_view> &word = *parts;
    switch (m_expect) {
    case Expect::Version:
        if (word.size() != 2 || word[0] != "devicefinder-arp" || word[1] != "1")
            return bad("the first line is not \"devicefinder-arp 1\"");
        m_expect = Expect::Interface;
        return Status::More;
    case Expect::Interface:
        if (word.size() != 2 || word[0] != "interface" || !interfaceName(word[1]))
            return bad("the second line is not \"interface NAME\" with a valid name");
        m_input.interface = std::string(word[1]);
        m_expect = Expect::Body;
        return Status::More;
    case Expect::Body:
        break;
    case Expect::Nothing:
        break;
    }
    if (word[0] == "end" && word.size() == 1) {
        if (m_input.ranges.empty())
            return bad("no range to ask");
        m_expect = Expect::Nothing;
        return Status::Done;
    }
    if (word[0] == "rate" && word.size() == 2) {
        const std::optional<std::uint32_t> rate = decimal(word[1], maxRate);
        if (!rate || *rate == 0 || m_input.rate || !m_input.ranges.empty())
            return bad("\"rate N\" comes once, before the ranges, with N from 1 to " + std::to_string(maxRate));
        m_input.rate = rate;
        return Status::More;
    }
    if (word[0] == "held" && word.size() == 3) {
        const std::optional<std::uint64_t> at = nanoseconds(word[1]);
        const std::optional<std::uint64_t> late = nanoseconds(word[2]);
        if (!at || !late || m_input.held.size() >= maxHeld)
            return bad("\"held AT LATE\" needs two decimal numbers, at most " + std::to_string(maxHeld) + " times");
        m_input.held.push_back({*at, *late});
        return Status::More;
    }
    if (word[0] == "range" && word.size() == 3) {
        const std::optional<std::uint32_t> first = parseIPv4(word[1]);
        const std::optional<std::uint32_t> last = parseIPv4(word[2]);
        if (!first || !last || *first > *last)
            return bad("\"range FIRST LAST\" needs two IPv4 addresses, the first not above the last");
        m_addresses += std::uint64_t(*last - *first) + 1;
        if (m_addresses > maxAddresses || m_input.ranges.size() >= maxRanges)
            return bad("more than " + std::to_string(maxAddresses) + " addresses or "
                       + std::to_string(maxRanges) + " ranges");
        m_input.ranges.push_back({*first, *last});
        return Status::More;
    }
    return bad("an unknown line");
}

ArpInputParser::Status ArpInputParser::bad(std::string why)
{
    m_expect = Expect::Nothing;
    m_error = std::move(why);
    return Status::Bad;
}
