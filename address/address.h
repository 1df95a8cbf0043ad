#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// An address the tool asks, or hears from, as one value from where it enters (the command
// line, a range's walk, a datagram's source, the kernel's tables) to where it becomes a
// record's text: an IPv4 address, with a port where one is given; or, where the text is no
// IPv4 address (a range's 10.0.0.300, an address kept exactly as typed, a host name), that
// text as given, which is asked as it is written. Its texts are made here, from the
// primitives of address/ipv4text.h; platform/addresstext.h hands them to Qt callers. No Qt,
// so that the ARP helper's side may use it too. A plain value: any thread.
//
// IPv4 alone is built. An IPv6 address would be one more kind, with its texts here and its
// socket address in address/socketaddress.h: callers ask for those, never for the kind.
class Address final {
public:
    // No address: an option not given, say.
    Address() = default;
    // An IPv4 address in host byte order, with a port (0: none given).
    static Address ipv4(std::uint32_t value, std::uint16_t port = 0);
    // The address that a dotted quad writes ("192.168.7.2"); else `text` as given.
    static Address fromText(std::u16string_view text);
    // "HOST" or "HOST:PORT", as a user names one host: HOST an IPv4 address or a host name
    // (letters, digits and hyphens in labels joined by dots), PORT 1 to 65535 without a
    // leading zero. Nothing for any other text, a HOST of digits and dots that is no IPv4
    // address among them. The one reader of a host and its port.
    static std::optional<Address> fromHostPort(std::u16string_view text);

    bool isEmpty() const { return m_kind == Kind::None; }
    // The IPv4 address in host byte order; nothing for a name or a text as given.
    std::optional<std::uint32_t> ipv4() const;
    // The port given; 0 for none.
    std::uint16_t port() const { return m_port; }
    // Whether it names one host, and its port, as a URL may take them: an address or a host
    // name that fromHostPort read; false for a text as given, which is to be read first.
    bool isHost() const { return m_kind == Kind::IPv4 || m_kind == Kind::Name; }
    // As people write it: the host (a dotted quad, a name, or the text as given), then
    // ":PORT" where a port was given. Empty for no address.
    std::u16string text() const;

    friend bool operator==(const Address &, const Address &) = default;
    // An order for sorted containers: by kind, then host, then port.
    friend bool operator<(const Address &a, const Address &b);

private:
    friend struct std::hash<Address>;
    enum class Kind : std::uint8_t { None, IPv4, Name, Given };

    Kind m_kind = Kind::None;
    std::uint16_t m_port = 0;
    std::uint32_t m_ipv4 = 0;
    std::u16string m_text; // a name's or a given text, in UTF-16 as a user's text comes
};

namespace std {
template <>
struct hash<Address> {
    size_t operator()(const Address &address) const noexcept;
};
} // namespace std
