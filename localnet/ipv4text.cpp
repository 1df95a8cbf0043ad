#include "localnet/ipv4text.h"

#include <algorithm>

QString dottedQuad(quint32 address)
{
    return QStringLiteral("%1.%2.%3.%4").arg(address >> 24).arg((address >> 16) & 0xFF).arg((address >> 8) & 0xFF).arg(address & 0xFF);
}

std::optional<quint32> plainIPv4(QStringView text)
{
    quint32 address = 0;
    int parts = 0;
    for (QStringView part : text.tokenize(u'.')) {
        const bool digits = !part.isEmpty() && part.size() <= 3
                            && std::all_of(part.cbegin(), part.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; });
        if (!digits || (part.size() > 1 && part.front() == u'0') || part.toInt() > 255 || ++parts > 4)
            return std::nullopt;
        address = (address << 8) | quint32(part.toInt());
    }
    if (parts != 4)
        return std::nullopt;
    return address;
}
