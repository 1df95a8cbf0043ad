#include "scan/rangeexpression.h"

#include "platform/log.h"

#include <QRegularExpression>

#include <cmath>
#include <cstdint>

namespace {

// The test is only whether the text begins with a match: nothing anchors the end.
const QString addressPattern = QStringLiteral("^\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}");

bool beginsWith(const QRegularExpression &pattern, const QString &text)
{
    return pattern.match(text).hasMatch();
}

IpRange expandCidr(const QString &expression)
{
    const QStringList pieces = expression.split(u'/');
    const qint64 prefix = integerValue(pieces.at(1));
    // The pattern makes the prefix non-negative, so this cannot overflow.
    const qint64 hostBits = 32 - prefix;
    // Truncating 2^h keeps every prefix above 32 at no address.
    const double count = std::exp2(double(hostBits));
    if (count < 1 || count > double(IpRange::maxSize))
        return {};
    const qint64 value = combine_octets(pieces.at(0).split(u'.'));
    const unsigned shift = unsigned(hostBits % 64);
    const qint64 base = qint64((std::uint64_t(value) >> shift) << shift);
    // An aligned block is exactly the product of the octet ranges between its first and
    // its last address, in the same order.
    const auto first = split_to_octets(base);
    const auto last = split_to_octets(base + qint64(count) - 1);
    std::array<OctetBounds, 4> table;
    for (std::size_t k = 0; k < table.size(); ++k)
        table[k] = {first[k], last[k]};
    return IpRange(table);
}

IpRange expandDashRange(const QString &expression)
{
    const QStringList components = expression.split(u'.');
    // The table has four pairs; a fifth component has nowhere to go.
    if (components.size() != 4)
        return {};
    std::array<OctetBounds, 4> table;
    for (std::size_t k = 0; k < table.size(); ++k) {
        const QString &component = components.at(qsizetype(k));
        if (component.contains(u'-')) {
            const QStringList bounds = component.split(u'-');
            table[k] = {integerValue(bounds.at(0)), integerValue(bounds.at(1))};
        } else {
            const qint64 value = integerValue(component);
            table[k] = {value, value};
        }
    }
    return IpRange(table);
}

IpRange expandSingleAddress(const QString &expression)
{
    if (expression.split(u'.').size() != 4)
        return {};
    return IpRange::literal(expression);
}

} // namespace

IpRange get_ip_range(const QString &expression)
{
    const RangeNotation notation = notationOf(expression);
    logNotation(notation);
    return expandInNotation(expression, notation);
}

RangeNotation notationOf(const QString &expression)
{
    static const QRegularExpression cidr(addressPattern + QStringLiteral("/\\d\\d"));
    static const QRegularExpression dashRange(addressPattern + QStringLiteral("-\\d{1,3}"));
    static const QRegularExpression singleAddress(addressPattern);

    if (beginsWith(cidr, expression))
        return RangeNotation::Cidr;
    if (beginsWith(dashRange, expression))
        return RangeNotation::DashRange;
    if (beginsWith(singleAddress, expression))
        return RangeNotation::SingleAddress;
    return RangeNotation::None;
}

void logNotation(RangeNotation notation)
{
    switch (notation) {
    case RangeNotation::Cidr:
        logLine(lcScan, "IP Range in CIDR notation.");
        break;
    case RangeNotation::DashRange:
        logLine(lcScan, "IP Range in Range notation.");
        break;
    case RangeNotation::SingleAddress:
        logLine(lcScan, "IP Range in single address notation.");
        break;
    case RangeNotation::None:
        break;
    }
}

IpRange expandInNotation(const QString &expression, RangeNotation notation)
{
    switch (notation) {
    case RangeNotation::Cidr:
        return expandCidr(expression);
    case RangeNotation::DashRange:
        return expandDashRange(expression);
    case RangeNotation::SingleAddress:
        return expandSingleAddress(expression);
    case RangeNotation::None:
        break;
    }
    return {};
}

std::array<qint64, 4> split_to_octets(qint64 value)
{
    std::array<qint64, 4> octets;
    for (std::size_t k = octets.size(); k-- > 0;) {
        octets[k] = value & 255;
        value >>= 8;
    }
    return octets;
}

qint64 combine_octets(const QStringList &octets)
{
    // Unsigned while shifting, so that high bits fall off instead of overflowing.
    std::uint64_t accumulator = 0;
    for (const QString &octet : octets)
        accumulator = (accumulator | std::uint64_t(integerValue(octet))) << 8;
    return qint64(accumulator) >> 8;
}
