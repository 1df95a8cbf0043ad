#pragma once

#include "tools/devicesim/deviceprofile.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTcpServer>
#include <QUdpSocket>

class ConnectionCounts;

// One simulated device: its HTTP server and the socket its discovery replies leave from,
// both bound to the device's own address so that clients see that address as the sender.
// Lives on the simulator's thread.
class SimDevice final : public QObject {
    Q_OBJECT

public:
    SimDevice(const DeviceProfile &profile, ConnectionCounts &counts, QObject *parent);

    bool open(QString *error);
    const DeviceProfile &profile() const { return m_profile; }
    quint16 httpPort() const { return m_http.serverPort(); }

    // Sends the configured reply datagrams, if any, to the requester.
    void answerDiscovery(const QHostAddress &to, quint16 port);

private:
    void acceptConnections();

    DeviceProfile m_profile;
    ConnectionCounts &m_counts;
    QElapsedTimer m_clock;
    QTcpServer m_http;
    QUdpSocket m_udp;
};
