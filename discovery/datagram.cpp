#include "discovery/datagram.h"

bool isXpicoReply(QByteArrayView datagram)
{
    return datagram.size() >= 4 && static_cast<unsigned char>(datagram[3]) == 0xF7;
}

bool isCorvaReply(QByteArrayView datagram)
{
    return datagram.startsWith(QByteArrayView("Server"));
}

QByteArray badPacketBytes(QByteArrayView datagram)
{
    const qsizetype end = datagram.indexOf('\0');
    return (end < 0 ? datagram : datagram.first(end)).toByteArray();
}
