#pragma once

#include "address/address.h"

#include <QString>

#include <optional>

// What a broadcast discovery returns for each valid reply: the sender's address, the name
// getnameinfo gave it (when that look-up succeeded), and where the row's "Open" button
// will lead; and, for the discovery report, the interface the reply came in on (0: the
// system did not say).
struct ResponderEntry final {
    Address ipAddress;
    std::optional<QString> hostname;
    QString redirectAddress;
    unsigned interfaceIndex = 0;

    bool operator==(const ResponderEntry &) const = default;
};
