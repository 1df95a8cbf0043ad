#include "address/ipv4text.h"

#include <limits>

namespace {

// One decimal number of `text`, starting at `at`, up to the next "." or the end: digits
// without a leading zero, with a "-" first where `signedNumber`. `at` moves past it and its
// dot. Nothing when it is no such number or lies beyond `most` (or below -most - 1).
template <typename Char>
std::optional<std::int64_t> number(std::basic_string_view<Char> text, std::size_t &at, bool signedNumber,
                                   std::uint64_t most)
{
    const bool negative = signedNumber && at < text.size() && text[at] == Char('-');
    if (negative)
        ++at;
    const std::size_t first = at;
    std::uint64_t magnitude = 0;
    const std::uint64_t limit = negative ? most + 1 : most;
    for (; at < text.size() && text[at] != Char('.'); ++at) {
        const Char c = text[at];
        if (c < Char('0') || c > Char('9'))
            return std::nullopt;
        const unsigned digit = unsigned(c - Char('0'));
        if (magnitude > (limit - digit) / 10)
            return std::nullopt;
        magnitude = magnitude * 10 + digit;
    }
    const std::size_t digits = at - first;
    if (digits == 0 || (digits > 1 && text[first] == Char('0')) || (negative && magnitude == 0))
        return std::nullopt;
    if (at < text.size())
        ++at; // the dot
    return negative ? std::int64_t(0 - magnitude) : std::int64_t(magnitude);
}

// Four numbers joined by single dots, and nothing more.
template <typename Char>
std::optional<std::array<std::int64_t, 4>> fourNumbers(std::basic_string_view<Char> text, bool signedNumbers,
                                                       std::uint64_t most)
{
    std::array<std::int64_t, 4> numbers{};
    std::size_t at = 0;
    for (std::size_t k = 0; k < numbers.size(); ++k) {
        // Each but the last ends in a dot; the last ends the text.
        if (k != 0 && text[at - 1] != Char('.'))
            return std::nullopt;
        const std::optional<std::int64_t> value = number(text, at, signedNumbers, most);
        if (!value)
            return std::nullopt;
        numbers[k] = *value;
    }
    if (at != text.size() || text[at - 1] == Char('.'))
        return std::nullopt;
    return numbers;
}

template <typename Char>
std::optional<std::uint32_t> ipv4Of(std::basic_string_view<Char> text)
{
    const std::optional<std::array<std::int64_t, 4>> octets = fourNumbers(text, false, 255);
    if (!octets)
        return std::nullopt;
    std::uint32_t address = 0;
    for (const std::int64_t octet : *octets)
        address = address << 8 | std::uint32_t(octet);
    return address;
}

template <typename Char>
Char *writeDecimal(Char *out, std::int64_t value)
{
    // Through the unsigned magnitude, so the most negative value has one too.
    std::uint64_t magnitude = value < 0 ? 0 - std::uint64_t(value) : std::uint64_t(value);
    if (value < 0)
        *out++ = Char('-');
    std::array<Char, 20> digits;
    std::size_t count = 0;
    do {
        digits[count++] = Char(Char('0') + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    while (count != 0)
        *out++ = digits[--count];
    return out;
}

template <typename Char>
Char *writeNumbers(Char *out, const std::array<std::int64_t, 4> &numbers)
{
    for (std::size_t k = 0; k < numbers.size(); ++k) {
        if (k != 0)
            *out++ = Char('.');
        out = writeDecimal(out, numbers[k]);
    }
    return out;
}

std::array<std::int64_t, 4> octetsOf(std::uint32_t address)
{
    return {address >> 24, address >> 16 & 0xFF, address >> 8 & 0xFF, address & 0xFF};
}

} // namespace

std::optional<std::uint32_t> parseIPv4(std::string_view text)
{
    return ipv4Of(text);
}

std::optional<std::uint32_t> parseIPv4(std::u16string_view text)
{
    return ipv4Of(text);
}

char *writeIPv4(char *out, std::uint32_t address)
{
    return writeNumbers(out, octetsOf(address));
}

char16_t *writeIPv4(char16_t *out, std::uint32_t address)
{
    return writeNumbers(out, octetsOf(address));
}

std::string ipv4Text(std::uint32_t address)
{
    std::array<char, maxDottedText> text;
    return std::string(text.data(), writeIPv4(text.data(), address));
}

char *writeFourNumbers(char *out, const std::array<std::int64_t, 4> &numbers)
{
    return writeNumbers(out, numbers);
}

char16_t *writeFourNumbers(char16_t *out, const std::array<std::int64_t, 4> &numbers)
{
    return writeNumbers(out, numbers);
}

std::optional<std::array<std::int64_t, 4>> parseFourNumbers(std::u16string_view text)
{
    return fourNumbers(text, true, std::uint64_t(std::numeric_limits<std::int64_t>::max()));
}
