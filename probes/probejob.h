#pragma once

#include "address/address.h"
#include "platform/enumcolumn.h"
#include "platform/resolver.h"
#include "probes/probeticket.h"
#include "probes/run.h"

#include <QString>

#include <array>
#include <iterator>
#include <memory>
#include <optional>

// The two HTTP probes. The device info probe asks for "/info" and notes its records in
// vudiduDevices; the gateway data probe asks for "/getdata.json" and notes them in
// xpicoDevices.
enum class ProbeKind { DeviceInfo, XpicoData, Count };
// Every kind, by its value: the found lists are kept in this order.
inline constexpr ProbeKind probeKinds[] = {ProbeKind::DeviceInfo, ProbeKind::XpicoData};
static_assert(isEveryValueInPlace(probeKinds), "probeKinds names every ProbeKind once, by its value");
template <typename T>
using PerProbeKind = std::array<T, countOf<ProbeKind>>;

// How a probe ended, for a caller that waits for it: listed (a record with a MAC address
// was merged, new or not), or why not.
struct ProbeOutcome final {
    enum class Kind { Listed, NoAnswer, Refused, NoRoute, HttpStatus, NotJson, NoMac, Stopped } kind = Kind::Stopped;
    int status = 0; // HttpStatus
};

// One probe of one address, handed down its whole path as one value: the request, its
// result, the record and the merge. A 404 of the device info probe hands the same job
// over to the gateway data probe. Move-only, as its ticket is.
struct ProbeJob final {
    Address address;                 // the host asked, with its port if any
    std::optional<QString> redirect; // the record's redirectAddress; nothing: the address's text
    ProbeKind kind = ProbeKind::DeviceInfo;
    std::shared_ptr<Run> run;        // never null
    ProbeTicket ticket;
    // The range scan's: the redirect address is the name this resolver finds for the
    // address (else the address), looked up only once the probe has a record. Null: the
    // redirect above.
    std::shared_ptr<Resolver> nameLookUp = nullptr;
    // Where the probe says how it ended, before its ticket does; null when nobody asks.
    std::shared_ptr<ProbeOutcome> outcome = nullptr;

    // Ends the probe: notes how, then ends the ticket. Any thread; once.
    void end(ProbeOutcome how)
    {
        if (outcome)
            *outcome = how;
        if (how.kind != ProbeOutcome::Kind::Stopped)
            run->noteProbeEnded(address, how.kind == ProbeOutcome::Kind::NoRoute);
        ticket.end();
    }
};
