#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The checks of the replies that reach a discovery socket, and how a rejected one is shown.
// Pure functions of the bytes received, safe from any thread.

// A gateway's reply: at least 4 bytes, with the reply code 0xF7 at offset 3.
bool isXpicoReply(QByteArrayView datagram);

// A Corva device's reply: its first 6 bytes are "Server", case and all.
bool isCorvaReply(QByteArrayView datagram);

// The received bytes the bad-packet line shows: up to the first NUL byte and never beyond
// the bytes received. The log shows them escaped, as it shows whatever a stranger chose.
QByteArray badPacketBytes(QByteArrayView datagram);
