#pragma once

#include "address/address.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <memory>
#include <optional>

// Name look-ups by address, as discovery and the range scan make them. The controller is
// given one: the system's resolver by default, a table in tests, so that no test asks the
// machine's resolver. Any thread, several at once.
class Resolver {
public:
    virtual ~Resolver() = default;
    // getnameinfo of an address with flags 0: the host buffer's bytes up to its NUL (the
    // numeric text where no name is found), or nothing when the look-up fails, with the
    // system's description of the failure in `failure`.
    virtual std::optional<QByteArray> nameInfo(const Address &address, QByteArray *failure) = 0;
    // A host name for an address, or nothing: no name, or a text as given, which is no
    // address ("010.0.0.1" is none here, not 8.0.0.1).
    virtual std::optional<QString> hostName(const Address &address) = 0;
};

std::shared_ptr<Resolver> systemResolver();
