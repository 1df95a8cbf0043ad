#include "tools/devicesim/simnetwork.h"

#include "tools/devicesim/discoveryreply.h"
#include "tools/devicesim/simdevice.h"

#include <QNetworkDatagram>
#include <QNetworkProxy>
#include <QUdpSocket>

#include <algorithm>

namespace {

// Requests are 4 bytes; anything longer is read in full only to be dropped.
constexpr qint64 maxDatagramBytes = 2048;

} // namespace

SimNetwork::SimNetwork(const QList<DeviceProfile> &devices, const SimOptions &options, ConnectionCounts &counts)
    : m_profiles(devices), m_options(options), m_counts(counts)
{
}

bool SimNetwork::open(QString *error)
{
    for (const DeviceProfile &profile : std::as_const(m_profiles)) {
        auto *device = new SimDevice(profile, m_counts, this);
        if (!device->open(error))
            return false;
        m_devices.append(device);
        m_byAddress[profile.address.toIPv4Address()].append(device);
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
        for (SimDevice *device : candidates) {
            if (device->profile().answersInfoRequest() == infoPort && isRequestFor(device->profile(), datagram.data()))
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

QList<quint16> SimNetwork::httpPorts() const
{
    QList<quint16> ports;
    for (const SimDevice *device : m_devices)
        ports.append(device->httpPort());
    return ports;
}
