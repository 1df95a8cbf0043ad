#pragma once

#include "model/integervalue.h"
#include "scan/iprange.h"

#include <QString>
#include <QStringList>
#include <QStringView>
#include <QtGlobal>

#include <array>

// The range expression the user types, and the conversions between an address value,
// its octets and its dotted text. Pure functions, safe from any thread.

// The addresses of a CIDR block ("192.168.1.1/24", exactly two digits after the slash),
// a dash range ("192.168.1.10-20") or a single address, recognised in that order by how
// the text begins. Logs the notation it recognised. Empty when the expression cannot be
// expanded or covers more than IpRange::maxSize addresses.
IpRange get_ip_range(const QString &expression);

// get_ip_range in its steps, for a list of ranges that names each notation once: the
// notation the expression begins with (None when no pattern matches), its log line ("IP
// Range in CIDR notation."; none for None), and the addresses of the expression read in it.
enum class RangeNotation { None, Cidr, DashRange, SingleAddress };
RangeNotation notationOf(const QString &expression);
void logNotation(RangeNotation notation);
IpRange expandInNotation(const QString &expression, RangeNotation notation);

// The four octets of the low 32 bits of an address value, most significant first.
std::array<qint64, 4> split_to_octets(qint64 value);

// The address value of octet texts, most significant first. An octet above 255 is ORed
// into the octets above it, and bits beyond the 32nd are kept.
qint64 combine_octets(const QStringList &octets);
