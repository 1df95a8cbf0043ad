#pragma once

#include "address/address.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

// What the HTTP client of the probes speaks: its limits, a request's result, and which
// URLs it takes. The client itself, httpGet, is the network thread's (probes/networkloop.h).

namespace HttpLimits {
// A request fails when it makes no progress for this long...
inline constexpr std::chrono::milliseconds idleTimeout{3000};
// ...and in any case after this long, so that a device that trickles a byte at a time
// cannot hold a run forever.
inline constexpr std::chrono::milliseconds totalTimeout{30'000};
// A larger body is not read: the reply counts as one without a usable body.
inline constexpr qint64 maxBodyBytes = 1 << 20;
} // namespace HttpLimits

// How one GET ended.
struct HttpResult final {
    // True when a whole HTTP response arrived, whatever its status. False for a failure
    // that left none: refused, unreachable, timed out, reset, stopped, a redirect
    // elsewhere, or an address that makes no valid URL. Such a result has no status and no
    // body, whatever bytes arrived before the failure.
    bool responded = false;
    // Without a response: whether the host refused the connection (it is there, with no web
    // server), as opposed to no answer at all...
    bool refused = false;
    // ...or whether the request never left this computer: no route to the address, or no
    // address of this computer to send from.
    bool noRoute = false;
    int status = 0;
    // Absent when there was no body, or when it was larger than maxBodyBytes.
    std::optional<QByteArray> body;
};

// What a request does when it ends: called exactly once, on the network thread, and
// destroyed there right after.
using HttpHandler = std::function<void(HttpResult result)>;

// Where a probe goes: the host that the address names, with its port if any (an IPv4
// address, which the network thread connects to itself, or a host name, which curl resolves
// and connects to), and the URL of the path on it, fully encoded.
struct HttpTarget final {
    Address host;
    QByteArray url;
};
// The target of `path` on `address`. A text kept as given is read as a host and its port
// first; nothing when it reads as none (user information, another host, a path before
// `path`, a leading zero), since the probe would then ask another address.
std::optional<HttpTarget> probeUrl(const Address &address, const QString &path);
