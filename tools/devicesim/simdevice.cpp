#include "tools/devicesim/simdevice.h"

#include "tools/devicesim/discoveryreply.h"
#include "tools/devicesim/httpconnection.h"

#include <QNetworkProxy>

SimDevice::SimDevice(const DeviceProfile &profile, ConnectionCounts &counts, QObject *parent)
    : QObject(parent), m_profile(profile), m_counts(counts)
{
    // A device answers directly; asking for the system's proxy settings would also start a thread.
    m_http.setProxy(QNetworkProxy::NoProxy);
    m_udp.setProxy(QNetworkProxy::NoProxy);
    connect(&m_http, &QTcpServer::newConnection, this, &SimDevice::acceptConnections);
}

bool SimDevice::open(QString *error)
{
    const QString where = QStringLiteral("%1 (%2)").arg(m_profile.name, m_profile.address.toString());
    if (!m_http.listen(m_profile.address, m_profile.httpPort)) {
        *error = QStringLiteral("%1: HTTP on port %2: %3").arg(where).arg(m_profile.httpPort).arg(m_http.errorString());
        return false;
    }
    if (!m_udp.bind(m_profile.address, 0)) {
        *error = QStringLiteral("%1: UDP reply socket: %2").arg(where, m_udp.errorString());
        return false;
    }
    m_clock.start();
    return true;
}

void SimDevice::answerDiscovery(const QHostAddress &to, quint16 port)
{
    for (const QByteArray &datagram : discoveryReplies(m_profile))
        m_udp.writeDatagram(datagram, to, port);
}

void SimDevice::acceptConnections()
{
    while (QTcpSocket *socket = m_http.nextPendingConnection())
        new HttpConnection(socket, m_profile, m_clock, m_counts, this);
}
