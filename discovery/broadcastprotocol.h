#pragma once

#include "platform/enumcolumn.h"
#include "probes/probejob.h"

#include <QByteArrayView>
#include <QString>

#include <array>
#include <iterator>
#include <memory>
#include <optional>

enum class DiscoveryProtocol { Corva, Xpico, Count };
// Every protocol, by its value, in the order a discovery run broadcasts: what is kept per
// protocol is kept in this order.
inline constexpr DiscoveryProtocol discoveryProtocols[] = {DiscoveryProtocol::Corva, DiscoveryProtocol::Xpico};
static_assert(isEveryValueInPlace(discoveryProtocols), "discoveryProtocols names every protocol once, by its value");
template <typename T>
using PerProtocol = std::array<T, countOf<DiscoveryProtocol>>;

// One broadcast protocol, described once: the request, the port, the reply check, the probe
// its responders get and the texts of its log lines and socket errors. The probe's path
// decides the record builder and the found list a record goes to.
struct BroadcastProtocol final {
    DiscoveryProtocol name;
    const char *title; // as log lines and people name it; scripts read it in lower case
    QByteArrayView request;
    quint16 port;
    bool (*isReply)(QByteArrayView datagram);
    // The synchronous probe of one responder, along the path the protocol starts with.
    ProbeOutcome (*probe)(const Address &ipAddress, const std::optional<QString> &redirectAddress,
                          const std::shared_ptr<Run> &run);
    const char *starting;          // logged first
    const char *broadcastFailure;  // perror texts of the three set-up steps
    const char *timeoutFailure;
    const char *sendFailure;
    const char *bindFailure;       // perror text when the reply port cannot be bound
    const char *sent;              // logged once the request is out
    const char *response;          // logged for every datagram, with the sender
    const char *finished;          // the summary, with the seconds taken
    const char *querying;          // logged before its responders are probed, with their count
    bool queryingWithoutList;      // whether a broadcast that could not be made logs it, as a count of 0
};

// The description of each protocol.
const BroadcastProtocol &broadcastProtocol(DiscoveryProtocol protocol);
// The gateways' protocol (port 30718) and the Corva devices' (port 23109).
const BroadcastProtocol &xpicoProtocol();
const BroadcastProtocol &corvaProtocol();

// "Corva" or "XPico".
QString protocolTitle(DiscoveryProtocol protocol);
