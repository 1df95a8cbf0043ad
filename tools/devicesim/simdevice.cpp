#include "tools/devicesim/simdevice.h"

#include "tools/devicesim/discoveryreply.h"
#include "tools/devicesim/httpconnection.h"

#include <QNetworkProxy>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

SimDevice::SimDevice(const DeviceProfile &profile, ConnectionCounts &counts, bool logRequests, QObject *parent)
    : QObject(parent), m_profile(profile), m_counts(counts), m_logRequests(logRequests)
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
    // Scripts count these lines: every device gets each broadcast once per network.
    if (m_logRequests)
        std::fprintf(stderr, "devicesim: discovery request to %s\n", qPrintable(m_profile.name));
    const QList<QByteArray> replies = discoveryReplies(m_profile);
    const bool fromOwn = m_profile.udpFrom.isNull();
    const quint32 first = (fromOwn ? m_profile.address : m_profile.udpFrom).toIPv4Address();
    for (int source = 0; source < m_profile.udpSources; ++source) {
        for (int repeat = 0; repeat < m_profile.udpRepeat; ++repeat) {
            for (const QByteArray &datagram : replies) {
                if (source == 0 && fromOwn)
                    m_udp.writeDatagram(datagram, to, port);
                else
                    sendFrom(first + quint32(source), datagram, to, port);
            }
        }
    }
}

// A reply from another address than the device's own, as a host that forges its source, or
// one set for another network, would send it. IP_TRANSPARENT (root in the sandbox) sends from
// an address that no interface holds, so that traffic to it goes nowhere; without it the
// address must be local (loopback, or a range the sandbox has made local).
void SimDevice::sendFrom(quint32 from, const QByteArray &datagram, const QHostAddress &to, quint16 port)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    const int on = 1;
    setsockopt(fd, IPPROTO_IP, IP_FREEBIND, &on, sizeof on);
    setsockopt(fd, IPPROTO_IP, IP_TRANSPARENT, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(from);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    remote.sin_addr.s_addr = htonl(to.toIPv4Address());
    if (bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) == 0)
        sendto(fd, datagram.constData(), std::size_t(datagram.size()), 0, reinterpret_cast<const sockaddr *>(&remote),
               sizeof remote);
    close(fd);
}

void SimDevice::acceptConnections()
{
    while (QTcpSocket *socket = m_http.nextPendingConnection())
        new HttpConnection(socket, m_profile, m_clock, m_counts, this);
}
