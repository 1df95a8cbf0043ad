#pragma once

#include <QByteArrayView>
#include <QString>

// The checks of the replies that reach a discovery socket, and how a rejected one is shown.
// Pure functions of the bytes received, safe from any thread.

// A gateway's reply: at least 4 bytes, with the reply code 0xF7 at offset 3.
bool isXpicoReply(QByteArrayView datagram);

// A Corva device's reply: its first 6 bytes are "Server", case and all.
bool isCorvaReply(QByteArrayView datagram);

// The received bytes as the bad-packet line shows them: up to the first NUL byte and never
// beyond the bytes received. A device chooses these bytes, so none of them may forge or
// break a log line: a byte outside printable ASCII is written as an escape (\n, \r, \t,
// \x1b, \xff), and a backslash as \\.
QString badPacketText(QByteArrayView datagram);
