#pragma once

#include <QHostAddress>

// Where a simulator hears discovery broadcasts. The default suits loopback: Linux hands a
// datagram sent to 127.255.255.255 only to sockets bound to it (or to the wildcard, which
// in the machine's own namespace would answer real broadcasts too).
struct SimOptions final {
    QHostAddress listenAddress{QStringLiteral("127.255.255.255")};
    quint16 infoPort = 23109;    // 0: any free port, see DeviceSim::infoPort()
    quint16 gatewayPort = 30718; // 0: any free port, see DeviceSim::gatewayPort()
    bool logRequests = false;    // a line on standard error for each discovery request a device gets
};
