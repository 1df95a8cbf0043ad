#include "tools/devicesim/simnetwork.h"

#include "tools/devicesim/discoveryreply.h"
#include "tools/devicesim/httpconnection.h"
#include "tools/devicesim/simdevice.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QNetworkProxy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Requests are 4 bytes; anything longer is read in full only to be dropped.
constexpr qint64 maxDatagramBytes = 2048;

} // namespace

SimNetwork::SimNetwork(const QList<DeviceProfile> &devices, const QList<RangeProfile> &ranges,
                       const SimOptions &options, ConnectionCounts &counts)
    : m_profiles(devices), m_ranges(ranges), m_options(options), m_counts(counts)
{
    m_clock.start();
}

bool SimNetwork::open(QString *error)
{
    for (const DeviceProfile &profile : std::as_const(m_profiles)) {
        auto *device = new SimDevice(profile, m_counts, m_options.logRequests, this);
        if (!device->open(error))
            return false;
        m_devices.append(device);
        m_byAddress[profile.address.toIPv4Address()].append(device);
    }
    for (const RangeProfile &range : std::as_const(m_ranges)) {
        quint16 port = 0;
        if (range.behaviour == RangeProfile::Behaviour::Silent && !openSilentRange(range, &port, error))
            return false;
        m_rangePorts.append(port);
    }
    const auto any = [this](bool info) {
        return std::any_of(m_profiles.cbegin(), m_profiles.cend(),
                           [info](const DeviceProfile &profile) { return profile.answersInfoRequest() == info; });
    };
    if (any(true) && !(m_infoListener = openListener(m_options.infoPort, error)))
        return false;
    if (any(false) && !(m_gatewayListener = openListener(m_options.gatewayPort, error)))
        return false;
    if (m_infoListener)
        connect(m_infoListener, &QUdpSocket::readyRead, this, [this] { receive(m_infoListener, true); });
    if (m_gatewayListener)
        connect(m_gatewayListener, &QUdpSocket::readyRead, this, [this] { receive(m_gatewayListener, false); });
    return true;
}

bool SimNetwork::openSilentRange(const RangeProfile &range, quint16 *port, QString *error)
{
    *port = range.httpPort;
    for (qint64 address = range.first; address <= range.last; ++address) {
        // A device of the file on this address and port is served as itself.
        const QList<SimDevice *> owners = m_byAddress.value(quint32(address));
        if (*port != 0 && std::any_of(owners.cbegin(), owners.cend(),
                                      [&](const SimDevice *device) { return device->httpPort() == *port; }))
            continue;
        QTcpServer *server = openSilentHost(quint32(address), *port, error);
        if (!server)
            return false;
        // Port 0 asks for one free port, the first address's, for the whole range.
        *port = server->serverPort();
        connect(server, &QTcpServer::newConnection, this, [this, server] {
            static const DeviceProfile silent = [] {
                DeviceProfile profile;
                profile.http = DeviceProfile::Http::Silent;
                return profile;
            }();
            while (QTcpSocket *socket = server->nextPendingConnection())
                new HttpConnection(socket, silent, m_clock, m_counts, server);
        });
    }
    return true;
}

// A listening socket made by hand, for the one option Qt does not offer: IP_FREEBIND binds an
// address the namespace does not (or not yet) own, such as the tool's own address inside a
// range, which then simply never sees a connection.
QTcpServer *SimNetwork::openSilentHost(quint32 address, quint16 port, QString *error)
{
    const auto failed = [&](const char *step) {
        *error = QStringLiteral("silent host %1:%2: %3: %4")
                     .arg(QHostAddress(address).toString()).arg(port)
                     .arg(QLatin1StringView(step), QString::fromLocal8Bit(std::strerror(errno)));
        return nullptr;
    };
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return failed("socket");
    const int on = 1;
    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(address);
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0
        || setsockopt(fd, IPPROTO_IP, IP_FREEBIND, &on, sizeof on) != 0
        || bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0 || listen(fd, 64) != 0) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return failed("bind");
    }
    auto *server = new QTcpServer(this);
    server->setProxy(QNetworkProxy::NoProxy);
    if (!server->setSocketDescriptor(fd)) {
        close(fd);
        *error = QStringLiteral("silent host %1: %2").arg(QHostAddress(address).toString(), server->errorString());
        delete server;
        return nullptr;
    }
    return server;
}

QUdpSocket *SimNetwork::openListener(quint16 port, QString *error)
{
    auto *socket = new QUdpSocket(this);
    socket->setProxy(QNetworkProxy::NoProxy);
    // Shared, so that two simulators on one machine (parallel sandboxes) both hear a broadcast.
    if (!socket->bind(m_options.listenAddress, port, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
        *error = QStringLiteral("discovery on %1:%2: %3")
                     .arg(m_options.listenAddress.toString()).arg(port).arg(socket->errorString());
        return nullptr;
    }
    return socket;
}

void SimNetwork::receive(QUdpSocket *listener, bool infoPort)
{
    while (listener->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = listener->receiveDatagram(maxDatagramBytes);
        if (!datagram.isValid() || datagram.senderAddress().protocol() != QAbstractSocket::IPv4Protocol
            || datagram.senderPort() <= 0)
            continue;
        // A request sent to one device's own address is that device's alone; a broadcast is everyone's.
        const auto addressed = m_byAddress.constFind(datagram.destinationAddress().toIPv4Address());
        const QList<SimDevice *> &candidates = addressed != m_byAddress.cend() ? *addressed : m_devices;
        // A broadcast reaches only the devices of the network it came in on.
        const QList<QNetworkAddressEntry> network =
            QNetworkInterface::interfaceFromIndex(datagram.interfaceIndex()).addressEntries();
        const auto onNetwork = [&network](const QHostAddress &address) {
            return network.isEmpty() || std::any_of(network.cbegin(), network.cend(), [&](const QNetworkAddressEntry &entry) {
                       return address.isInSubnet(entry.ip(), entry.prefixLength());
                   });
        };
        for (SimDevice *device : candidates) {
            if (device->profile().answersInfoRequest() == infoPort && isRequestFor(device->profile(), datagram.data())
                && onNetwork(device->profile().address))
                device->answerDiscovery(datagram.senderAddress(), static_cast<quint16>(datagram.senderPort()));
        }
    }
}

quint16 SimNetwork::infoPort() const
{
    return m_infoListener ? m_infoListener->localPort() : 0;
}

quint16 SimNetwork::gatewayPort() const
{
    return m_gatewayListener ? m_gatewayListener->localPort() : 0;
}

QList<quint16> SimNetwork::rangePorts() const
{
    return m_rangePorts;
}

QList<quint16> SimNetwork::httpPorts() const
{
    QList<quint16> ports;
    for (const SimDevice *device : m_devices)
        ports.append(device->httpPort());
    return ports;
}
