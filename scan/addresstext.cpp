#include "scan/addresstext.h"

#include <algorithm>
#include <cstdint>

namespace {

char16_t *appendDecimal(char16_t *out, qint64 value)
{
    // Through the unsigned magnitude, so the most negative value has one too.
    std::uint64_t magnitude = value < 0 ? 0 - std::uint64_t(value) : std::uint64_t(value);
    if (value < 0)
        *out++ = u'-';
    std::array<char16_t, 20> digits;
    std::size_t count = 0;
    do {
        digits[count++] = char16_t(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    while (count != 0)
        *out++ = digits[--count];
    return out;
}

} // namespace

void writeAddressText(QString &text, const std::array<qint64, 4> &octets)
{
    std::array<char16_t, 4 * 20 + 3> buffer; // four of "-9223372036854775808" and three dots
    char16_t *end = buffer.data();
    for (std::size_t k = 0; k < octets.size(); ++k) {
        if (k != 0)
            *end++ = u'.';
        end = appendDecimal(end, octets[k]);
    }
    text.resize(end - buffer.data());
    std::copy(buffer.data(), end, text.data());
}

std::optional<std::array<qint64, 4>> canonicalOctets(QStringView text)
{
    std::array<qint64, 4> octets;
    qsizetype count = 0;
    for (const QStringView piece : text.tokenize(u'.')) {
        if (count == 4)
            return std::nullopt;
        bool ok = false;
        const qint64 value = piece.toLongLong(&ok);
        // Written back, the number must give the same text: no sign "+", no leading zeros,
        // no blanks.
        if (!ok || QString::number(value) != piece)
            return std::nullopt;
        octets[std::size_t(count++)] = value;
    }
    if (count != 4)
        return std::nullopt;
    return octets;
}
