#pragma once

#include "tools/devicesim/deviceprofile.h"
#include "tools/devicesim/simoptions.h"

#include <QHash>
#include <QList>
#include <QObject>

class ConnectionCounts;
class QUdpSocket;
class SimDevice;

// Everything the simulator runs, on its own thread: the devices, and one socket per
// discovery port that hears requests and hands them to the devices that answer them.
class SimNetwork final : public QObject {
    Q_OBJECT

public:
    SimNetwork(const QList<DeviceProfile> &devices, const SimOptions &options, ConnectionCounts &counts);

    // Binds every socket; on the first failure returns false with the reason.
    bool open(QString *error);
    quint16 infoPort() const;
    quint16 gatewayPort() const;
    QList<quint16> httpPorts() const;

private:
    QUdpSocket *openListener(quint16 port, QString *error);
    void receive(QUdpSocket *listener, bool infoPort);

    QList<DeviceProfile> m_profiles;
    SimOptions m_options;
    ConnectionCounts &m_counts;
    QList<SimDevice *> m_devices;
    QHash<quint32, QList<SimDevice *>> m_byAddress;
    QUdpSocket *m_infoListener = nullptr;
    QUdpSocket *m_gatewayListener = nullptr;
};
