#pragma once

#include "model/devicelist.h"
#include "tools/devicesim/devicesim.h"

#include <QJsonObject>

#include <memory>

// Simulated devices and their records for in-process tests, each device on a loopback
// address of its own. A port of 0 lets the system pick one; discovery and scan tests, which
// probe port 80, pass 80.
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

// Starts the devices. Unless they are to hear broadcasts, they serve HTTP only and leave the
// protocols' fixed ports alone.
inline std::unique_ptr<DeviceSim> startDevices(const QList<DeviceProfile> &devices, bool hearBroadcasts = false)
{
    SimOptions options;
    if (!hearBroadcasts) {
        options.infoPort = 0;
        options.gatewayPort = 0;
    }
    auto sim = std::make_unique<DeviceSim>(devices, options);
    QString error;
    if (!sim->start(&error))
        qFatal("devices did not start: %s", qPrintable(error));
    return sim;
}

inline Device record(const QJsonObject &object)
{
    return std::make_shared<const DeviceRecord>(object);
}

// A record with a host name, and a MAC address unless it is null.
inline Device record(const QString &hostname, const QString &mac)
{
    QJsonObject object{{QStringLiteral("hostname"), hostname}};
    if (!mac.isNull())
        object.insert(QStringLiteral("macAddress"), mac);
    return record(object);
}

inline QStringList hostnames(const DeviceList &devices)
{
    QStringList names;
    for (const Device &device : devices)
        names.append(device->text(DeviceKey::hostname));
    return names;
}
