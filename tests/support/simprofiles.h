#pragma once

#include "tools/devicesim/deviceprofile.h"

#include <QJsonObject>

// Simulated devices for in-process tests, each on a loopback address of its own. A port
// of 0 lets the system pick one; discovery and scan tests, which probe port 80, pass 80.
inline DeviceProfile simDevice(DeviceProfile::Kind kind, const QString &name, const QString &address,
                               const QJsonObject &document = {}, quint16 httpPort = 0)
{
    DeviceProfile profile;
    profile.name = name;
    profile.address = QHostAddress(address);
    profile.kind = kind;
    profile.httpPort = httpPort;
    profile.document = document;
    if (kind == DeviceProfile::Kind::Info && !document.contains(u"hostname"))
        profile.document.insert(QStringLiteral("hostname"), name);
    return profile;
}

inline DeviceProfile withHttp(DeviceProfile profile, DeviceProfile::Http http)
{
    profile.http = http;
    return profile;
}

inline DeviceProfile withUdp(DeviceProfile profile, DeviceProfile::Udp udp)
{
    profile.udp = udp;
    return profile;
}
