#pragma once

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
    // getnameinfo of an IPv4 address (in host byte order) with flags 0: the host buffer's
    // bytes up to its NUL (the numeric text where no name is found), or nothing when the
    // look-up fails, with the system's description of the failure in `failure`.
    virtual std::optional<QByteArray> nameInfo(quint32 address, QByteArray *failure) = 0;
    // A host name for an address text, or nothing: no name, or not a dotted-quad address.
    virtual std::optional<QString> hostName(const QString &address) = 0;
};

std::shared_ptr<Resolver> systemResolver();
