#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The primitives of IPv4 text, the one place they are written: a dotted quad read and
// written, and the dotted text of four numbers that a range's walk gives where an octet lies
// beyond 0..255. Over 8-bit text and UTF-16 text alike; no Qt. Pure functions, any thread.

// The address (host byte order) of "A.B.C.D": four decimal numbers of 0 to 255 without
// leading zeros, and nothing else; nothing for any other text ("010.0.0.1", "10.0.0.1 ",
// "10.0.0", "10.0.0.256").
std::optional<std::uint32_t> parseIPv4(std::string_view text);
std::optional<std::uint32_t> parseIPv4(std::u16string_view text);

// Room enough for any text the writers below write.
inline constexpr std::size_t maxDottedText = 4 * 20 + 3; // four of "-9223372036854775808", three dots

// Writes "192.168.7.2" at `out` and gives the end.
char *writeIPv4(char *out, std::uint32_t address);
char16_t *writeIPv4(char16_t *out, std::uint32_t address);
std::string ipv4Text(std::uint32_t address);

// The four numbers in decimal, each with its "-" if below zero, joined by "."; written at
// `out`, giving the end.
char *writeFourNumbers(char *out, const std::array<std::int64_t, 4> &numbers);
char16_t *writeFourNumbers(char16_t *out, const std::array<std::int64_t, 4> &numbers);
// The four numbers whose text is exactly `text` (four decimal numbers, each with an
// optional "-", no leading zeros, nothing else); nothing for any other text, "010.0.0.1",
// "-0.0.0.1" and "10.0.0.1 " included.
std::optional<std::array<std::int64_t, 4>> parseFourNumbers(std::u16string_view text);
