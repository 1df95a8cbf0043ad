#include "discovery/datagram.h"

bool isXpicoReply(QByteArrayView datagram)
{
    return datagram.size() >= 4 && static_cast<unsigned char>(datagram[3]) == 0xF7;
}

bool isCorvaReply(QByteArrayView datagram)
{
    return datagram.startsWith(QByteArrayView("Server"));
}

QString badPacketText(QByteArrayView datagram)
{
    static constexpr char hex[] = "0123456789abcdef";
    QString text;
    for (const char byte : datagram) {
        const auto c = static_cast<unsigned char>(byte);
        if (c == 0)
            break;
        if (c == '\\')
            text += QLatin1StringView("\\\\");
        else if (c >= 0x20 && c <= 0x7E)
            text += QLatin1Char(char(c));
        else if (c == '\n')
            text += QLatin1StringView("\\n");
        else if (c == '\r')
            text += QLatin1StringView("\\r");
        else if (c == '\t')
            text += QLatin1StringView("\\t");
        else
            text += QLatin1StringView("\\x") + QLatin1Char(hex[c >> 4]) + QLatin1Char(hex[c & 15]);
    }
    return text;
}
