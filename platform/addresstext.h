#pragma once

#include "address/address.h"

#include <QString>
#include <QStringView>
#include <QtGlobal>

#include <array>
#include <optional>

// The address value (address/address.h) and the primitives of IPv4 text
// (address/ipv4text.h) for callers that hold their text in Qt's types: the one adapter, so
// that no other file reads or writes an address's text by a rule of its own.

// An address that enters as text (a history's, a record's, a range's literal): the address a
// dotted quad writes, else the text as given.
Address addressFromText(QStringView text);
// "HOST" or "HOST:PORT", as Address::fromHostPort reads it; nothing for any other text.
std::optional<Address> addressFromHostPort(QStringView text);
// Address::text(): "192.168.7.2", "192.168.7.2:8080", or the text as given.
QString addressText(const Address &address);
// The one maker of the device's URL: "http://" followed by a host, with its port if any, as a
// record or an address writes it, then `path`.
QString deviceUrl(QStringView host, QStringView path = {});
QString deviceUrl(const Address &address, QStringView path = {});

// "192.168.7.2": an address in host byte order, as people write it.
QString dottedQuad(quint32 address);
// The address of a text of four numbers of 0 to 255 without leading zeros, as dottedQuad()
// writes it; nothing for any other text.
std::optional<quint32> plainIPv4(QStringView text);

// A range's walk: the dotted text of four numbers, any of them beyond 0..255, written over
// `text` in place (allocating nothing while nobody else shares the text), and read back: the
// four numbers whose text is exactly `text`, nothing for any other ("010.0.0.1", "10.0.0.1 ").
void writeAddressText(QString &text, const std::array<qint64, 4> &octets);
std::optional<std::array<qint64, 4>> canonicalOctets(QStringView text);

// For Qt's hashed containers.
size_t qHash(const Address &address, size_t seed = 0) noexcept;
