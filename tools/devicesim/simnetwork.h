#pragma once

#include "tools/devicesim/deviceprofile.h"
#include "tools/devicesim/simoptions.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>

class ConnectionCounts;
class QTcpServer;
class QUdpSocket;
class SimDevice;

// Everything the simulator runs, on its own thread: the devices, a listener for each address
// of the silent ranges, and one socket per discovery port that hears requests and hands them
// to the devices that answer them. Refusing ranges need nothing: nobody listens there.
class SimNetwork final : public QObject {
    Q_OBJECT

public:
    SimNetwork(const QList<DeviceProfile> &devices, const QList<RangeProfile> &ranges, const SimOptions &options,
               ConnectionCounts &counts);

    // Binds every socket; on the first failure returns false with the reason.
    bool open(QString *error);
    quint16 infoPort() const;
    quint16 gatewayPort() const;
    QList<quint16> httpPorts() const;
    QList<quint16> rangePorts() const; // one per range; 0 for a refusing one

private:
    bool openSilentRange(const RangeProfile &range, quint16 *port, QString *error);
    QTcpServer *openSilentHost(quint32 address, quint16 port, QString *error);
    QUdpSocket *openListener(quint16 port, QString *error);
    void receive(QUdpSocket *listener, bool infoPort);

    QList<DeviceProfile> m_profiles;
    QList<RangeProfile> m_ranges;
    QList<quint16> m_rangePorts;
    SimOptions m_options;
    ConnectionCounts &m_counts;
    QList<SimDevice *> m_devices;
    QHash<quint32, QList<SimDevice *>> m_byAddress;
    QElapsedTimer m_clock;
    QUdpSocket *m_infoListener = nullptr;
    QUdpSocket *m_gatewayListener = nullptr;
};
