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
    // With logRequests, each discovery request is noted on standard error.
    SimDevice(const DeviceProfile &profile, ConnectionCounts &counts, bool logRequests, QObject *parent);

    bool open(QString *error);
    const DeviceProfile &profile() const { return m_profile; }
    quint16 httpPort() const { return m_http.serverPort(); }

    // Sends the configured reply datagrams, if any, to the requester: udpRepeat times, from
    // each of the udpSources addresses.
    void answerDiscovery(const QHostAddress &to, quint16 port);

private:
    void acceptConnections();
    void sendFrom(quint32 from, const QByteArray &datagram, const QHostAddress &to, quint16 port);

    DeviceProfile m_profile;
    ConnectionCounts &m_counts;
    const bool m_logRequests;
    QElapsedTimer m_clock;
    QTcpServer m_http;
    QUdpSocket m_udp;
};
