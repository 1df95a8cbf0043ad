#include "platform/addresstext.h"

#include "address/ipv4text.h"

#include <QHashFunctions>

#include <algorithm>

namespace {

std::u16string_view view(QStringView text)
{
    return {text.utf16(), std::size_t(text.size())};
}

} // namespace

Address addressFromText(QStringView text)
{
    return Address::fromText(view(text));
}

std::optional<Address> addressFromHostPort(QStringView text)
{
    return Address::fromHostPort(view(text));
}

QString addressText(const Address &address)
{
    const std::u16string text = address.text();
    return QString::fromUtf16(text.data(), qsizetype(text.size()));
}

QString deviceUrl(QStringView host, QStringView path)
{
    QString url = QStringLiteral("http://");
    url.append(host).append(path);
    return url;
}

QString deviceUrl(const Address &address, QStringView path)
{
    return deviceUrl(addressText(address), path);
}

QString dottedQuad(quint32 address)
{
    std::array<char16_t, maxDottedText> text;
    return QString::fromUtf16(text.data(), writeIPv4(text.data(), address) - text.data());
}

std::optional<quint32> plainIPv4(QStringView text)
{
    return parseIPv4(view(text));
}

void writeAddressText(QString &text, const std::array<qint64, 4> &octets)
{
    std::array<char16_t, maxDottedText> buffer;
    char16_t *const end = writeFourNumbers(buffer.data(), {octets[0], octets[1], octets[2], octets[3]});
    text.resize(end - buffer.data());
    std::copy(buffer.data(), end, reinterpret_cast<char16_t *>(text.data()));
}

std::optional<std::array<qint64, 4>> canonicalOctets(QStringView text)
{
    const std::optional<std::array<std::int64_t, 4>> numbers = parseFourNumbers(view(text));
    if (!numbers)
        return std::nullopt;
    return std::array<qint64, 4>{(*numbers)[0], (*numbers)[1], (*numbers)[2], (*numbers)[3]};
}

size_t qHash(const Address &address, size_t seed) noexcept
{
    return qHashMulti(seed, std::hash<Address>()(address));
}
