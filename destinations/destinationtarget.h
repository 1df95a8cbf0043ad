#pragma once

#include "destinations/destination.h"

#include <QString>

#include <optional>

// Where a destination sends, in words a user may see, and whether it may send now.

// "ntfy", "gotify", "webhook" or "email".
QString destinationKindName(const Destination &destination);

// Where it sends, with each secret as "***": "https://ntfy.example topic ***". Pure.
QString destinationTarget(const Destination &destination);

// Why the destination sends nothing now, though the file is sound: a secret that cannot be
// read (or that others may read), or one that would go without TLS to a host that is not
// loopback. Nothing when it may send. Reads its secrets.
std::optional<QString> destinationProblem(const Destination &destination, const QString &configFolder);

// Whether a URL's or server's host is this computer's loopback (127.0.0.0/8, ::1, localhost),
// which no secret leaves over. Pure.
bool isLoopbackHost(const QString &host);
