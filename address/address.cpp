#include "address/address.h"

#include "address/ipv4text.h"

#include <algorithm>
#include <array>
#include <tuple>

namespace {

bool isLabelCharacter(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-';
}

// A host name as a user writes one: at most 253 characters in labels of 1 to 63 letters,
// digits and hyphens, joined by dots, no label beginning or ending with a hyphen.
bool isHostName(std::u16string_view name)
{
    if (name.empty() || name.size() > 253)
        return false;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = std::min(name.find(u'.', start), name.size());
        const std::u16string_view label = name.substr(start, dot - start);
        if (label.empty() || label.size() > 63 || label.front() == u'-' || label.back() == u'-'
            || !std::all_of(label.begin(), label.end(), isLabelCharacter))
            return false;
        if (dot == name.size())
            return true;
        start = dot + 1;
    }
}

// 1 to 65535, in decimal without a leading zero.
std::optional<std::uint16_t> portOf(std::u16string_view digits)
{
    if (digits.empty() || digits.size() > 5 || digits.front() == u'0')
        return std::nullopt;
    std::uint32_t port = 0;
    for (const char16_t c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        port = port * 10 + std::uint32_t(c - u'0');
    }
    if (port > 65535)
        return std::nullopt;
    return std::uint16_t(port);
}

} // namespace

Address Address::ipv4(std::uint32_t value, std::uint16_t port)
{
    Address address;
    address.m_kind = Kind::IPv4;
    address.m_ipv4 = value;
    address.m_port = port;
    return address;
}

Address Address::fromText(std::u16string_view text)
{
    if (const std::optional<std::uint32_t> value = parseIPv4(text))
        return ipv4(*value);
    Address address;
    address.m_kind = Kind::Given;
    address.m_text = text;
    return address;
}

std::optional<Address> Address::fromHostPort(std::u16string_view text)
{
    const std::size_t colon = text.find(u':');
    const std::u16string_view host = text.substr(0, colon);
    std::uint16_t port = 0;
    if (colon != std::u16string_view::npos) {
        const std::optional<std::uint16_t> given = portOf(text.substr(colon + 1));
        if (!given)
            return std::nullopt;
        port = *given;
    }
    if (const std::optional<std::uint32_t> value = parseIPv4(host))
        return ipv4(*value, port);
    // Digits and dots name an IPv4 address or nothing: "192.168.1.260" is no name to look up.
    if (std::all_of(host.begin(), host.end(), [](char16_t c) { return c == u'.' || (c >= u'0' && c <= u'9'); })
        || !isHostName(host))
        return std::nullopt;
    Address address;
    address.m_kind = Kind::Name;
    address.m_text = host;
    address.m_port = port;
    return address;
}

std::optional<std::uint32_t> Address::ipv4() const
{
    if (m_kind != Kind::IPv4)
        return std::nullopt;
    return m_ipv4;
}

std::u16string Address::text() const
{
    std::u16string text = m_text;
    if (m_kind == Kind::IPv4) {
        std::array<char16_t, maxDottedText> written;
        text.assign(written.data(), writeIPv4(written.data(), m_ipv4));
    }
    if (m_port != 0) {
        text += u':';
        for (const char digit : std::to_string(m_port))
            text += char16_t(digit);
    }
    return text;
}

bool operator<(const Address &a, const Address &b)
{
    return std::tie(a.m_kind, a.m_ipv4, a.m_text, a.m_port) < std::tie(b.m_kind, b.m_ipv4, b.m_text, b.m_port);
}

std::size_t std::hash<Address>::operator()(const Address &address) const noexcept
{
    const std::size_t host = address.m_kind == Address::Kind::IPv4 ? std::hash<std::uint32_t>()(address.m_ipv4)
                                                                   : std::hash<std::u16string>()(address.m_text);
    return host ^ std::size_t(address.m_port) << 1 ^ std::size_t(address.m_kind) << 20;
}
