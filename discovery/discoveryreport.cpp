#include "discovery/discoveryreport.h"

#include "scan/rangeexpression.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <net/if.h>

#include <algorithm>

namespace {

QString dotted(quint32 address)
{
    return octetsToString(split_to_octets(address));
}

QString reasonName(UnlistedReason reason)
{
    switch (reason) {
    case UnlistedReason::OffNetwork:
        return QStringLiteral("off-network");
    case UnlistedReason::LinkLocal:
        return QStringLiteral("link-local");
    case UnlistedReason::NoAnswer:
        return QStringLiteral("no-answer");
    case UnlistedReason::Refused:
        return QStringLiteral("refused");
    case UnlistedReason::HttpStatus:
        return QStringLiteral("http-status");
    case UnlistedReason::NotJson:
        return QStringLiteral("not-json");
    case UnlistedReason::NoMac:
        return QStringLiteral("no-mac");
    case UnlistedReason::NotProbed:
        break;
    }
    return QStringLiteral("not-probed");
}

QString protocolName(DiscoveryProtocol protocol)
{
    return protocol == DiscoveryProtocol::Corva ? QStringLiteral("corva") : QStringLiteral("xpico");
}

// {"corva": ..., "xpico": ...} of a per-protocol pair.
template <typename T>
QJsonObject perProtocol(const std::array<T, 2> &values)
{
    return {{QStringLiteral("corva"), values[0]}, {QStringLiteral("xpico"), values[1]}};
}

QString networkText(quint32 address, int prefixLength)
{
    return QStringLiteral("%1/%2").arg(dotted(networkOf(address, prefixLength))).arg(prefixLength);
}

// "eth1 (192.168.7.2/24)"; empty for an interface the system did not list.
QString interfaceText(const DiscoveryReport::Interface *interface)
{
    if (!interface || interface->name.isEmpty())
        return {};
    return QStringLiteral("%1 (%2/%3)").arg(interface->name, dotted(interface->address)).arg(interface->prefixLength);
}

QString protocolText(const DiscoveryReport::Interface &interface, DiscoveryProtocol protocol)
{
    const auto k = std::size_t(protocol);
    return QStringLiteral("%1 %2, %3 %4, %5 bad")
        .arg(protocol == DiscoveryProtocol::Corva ? QStringLiteral("Corva") : QStringLiteral("XPico"),
             interface.sent[k] ? QStringLiteral("sent") : QStringLiteral("not sent"))
        .arg(interface.replies[k])
        .arg(interface.replies[k] == 1 ? QStringLiteral("reply") : QStringLiteral("replies"))
        .arg(interface.bad[k]);
}

} // namespace

UnlistedReason unlistedReason(quint32 address, const QList<NetworkInterface> &interfaces, UnlistedReason probeFailure)
{
    if (probeFailure != UnlistedReason::NoAnswer)
        return probeFailure;
    switch (placeOf(address, interfaces)) {
    case ResponderPlace::OffNetwork:
        return UnlistedReason::OffNetwork;
    case ResponderPlace::LinkLocal:
        return UnlistedReason::LinkLocal;
    case ResponderPlace::OnNetwork:
        break;
    }
    return probeFailure;
}

DiscoveryReport::DiscoveryReport(const QList<NetworkInterface> &interfaces, quint16 replyPort)
    : m_known(interfaces), m_replyPort(replyPort)
{
    for (const NetworkInterface &interface : interfaces) {
        if ((interface.flags & IFF_UP) && !(interface.flags & IFF_LOOPBACK))
            interfaceEntry(interface.index);
    }
}

void DiscoveryReport::noteSent(DiscoveryProtocol protocol, unsigned interfaceIndex)
{
    interfaceEntry(interfaceIndex).sent[std::size_t(protocol)] = true;
}

void DiscoveryReport::noteReply(DiscoveryProtocol protocol, unsigned interfaceIndex, bool valid)
{
    Interface &interface = interfaceEntry(interfaceIndex);
    ++interface.replies[std::size_t(protocol)];
    if (!valid)
        ++interface.bad[std::size_t(protocol)];
}

void DiscoveryReport::noteResponder(DiscoveryProtocol protocol, const QString &address, unsigned interfaceIndex)
{
    bool ok = false;
    const quint32 value = QHostAddress(address).toIPv4Address(&ok);
    if (!ok || findUnlisted(protocol, value) != m_unlisted.end())
        return;
    qsizetype &tracked = m_tracked[std::size_t(protocol)];
    if (tracked >= maxTracked) {
        ++m_untracked;
        return;
    }
    ++tracked;
    if (interfaceIndex != 0)
        interfaceEntry(interfaceIndex);
    m_unlisted.append({value, protocol, interfaceIndex, UnlistedReason::NotProbed, 0});
}

void DiscoveryReport::noteProbed(DiscoveryProtocol protocol, const QString &address,
                                 std::optional<UnlistedReason> failure, int status)
{
    const auto entry = findUnlisted(protocol, QHostAddress(address).toIPv4Address());
    if (entry == m_unlisted.end())
        return;
    if (!failure) {
        m_unlisted.erase(entry);
        return;
    }
    entry->reason = unlistedReason(entry->address, m_known, *failure);
    entry->status = entry->reason == UnlistedReason::HttpStatus ? status : 0;
}

void DiscoveryReport::noteUnlisted(DiscoveryProtocol protocol, const QString &address, unsigned interfaceIndex,
                                   UnlistedReason probeFailure, int status)
{
    noteResponder(protocol, address, interfaceIndex);
    noteProbed(protocol, address, probeFailure, status);
}

QList<DiscoveryReport::Unlisted>::iterator DiscoveryReport::findUnlisted(DiscoveryProtocol protocol, quint32 address)
{
    return std::find_if(m_unlisted.begin(), m_unlisted.end(), [&](const Unlisted &entry) {
        return entry.address == address && entry.protocol == protocol;
    });
}

qsizetype DiscoveryReport::unlistedDevices() const
{
    QSet<quint32> addresses;
    for (const Unlisted &entry : m_unlisted)
        addresses.insert(entry.address);
    return addresses.size() + m_untracked;
}

DiscoveryReport::Interface &DiscoveryReport::interfaceEntry(unsigned index)
{
    const auto found = std::find_if(m_interfaces.begin(), m_interfaces.end(),
                                    [index](const Interface &interface) { return interface.index == index; });
    if (found != m_interfaces.end())
        return *found;
    Interface entry;
    entry.index = index;
    const auto known = std::find_if(m_known.cbegin(), m_known.cend(),
                                    [index](const NetworkInterface &interface) { return interface.index == index; });
    if (index != 0 && known != m_known.cend()) {
        entry.name = known->name;
        entry.address = known->address;
        entry.prefixLength = known->prefixLength;
    }
    m_interfaces.append(entry);
    return m_interfaces.last();
}

const DiscoveryReport::Interface *DiscoveryReport::findInterface(unsigned index) const
{
    const auto found = std::find_if(m_interfaces.cbegin(), m_interfaces.cend(),
                                    [index](const Interface &interface) { return interface.index == index; });
    return found != m_interfaces.cend() ? &*found : nullptr;
}

QByteArray DiscoveryReport::toJson() const
{
    QJsonArray interfaces;
    for (const Interface &interface : m_interfaces) {
        const bool named = !interface.name.isEmpty();
        interfaces.append(QJsonObject{
            {QStringLiteral("name"), interface.name},
            {QStringLiteral("address"), named ? dotted(interface.address) : QString()},
            {QStringLiteral("prefixLength"), interface.prefixLength},
            {QStringLiteral("sent"), perProtocol(interface.sent)},
            {QStringLiteral("replies"), perProtocol(interface.replies)},
            {QStringLiteral("bad"), perProtocol(interface.bad)},
        });
    }
    QJsonArray unlisted;
    for (const Unlisted &entry : this->unlisted()) {
        const Interface *interface = findInterface(entry.interfaceIndex);
        QJsonObject object{
            {QStringLiteral("address"), dotted(entry.address)},
            {QStringLiteral("protocol"), protocolName(entry.protocol)},
            {QStringLiteral("interface"), interface ? interface->name : QString()},
            {QStringLiteral("reason"), reasonName(entry.reason)},
        };
        if (entry.reason == UnlistedReason::HttpStatus)
            object.insert(QStringLiteral("status"), entry.status);
        unlisted.append(object);
    }
    const QJsonObject report{
        {QStringLiteral("interfaces"), interfaces},
        {QStringLiteral("unlisted"), unlisted},
        {QStringLiteral("unlistedNotShown"), qint64(unlistedNotShown())},
        {QStringLiteral("replyPort"), m_replyPort != 0 ? QJsonValue(m_replyPort) : QJsonValue()},
        {QStringLiteral("hint"), m_hint},
    };
    return QJsonDocument(report).toJson(QJsonDocument::Indented);
}

QString DiscoveryReport::unlistedText(const Unlisted &entry) const
{
    const QString address = dotted(entry.address);
    const Interface *interface = findInterface(entry.interfaceIndex);
    const QString on = interfaceText(interface);
    const QString answered = on.isEmpty() ? QStringLiteral("%1 answered, but ").arg(address)
                                          : QStringLiteral("%1 answered on %2, but ").arg(address, on);
    switch (entry.reason) {
    case UnlistedReason::OffNetwork:
        return answered
               + (on.isEmpty() ? QStringLiteral("its address is on none of this computer's networks")
                               : QStringLiteral("its address is not on that network"))
               + QStringLiteral(": its web page cannot be reached from here. Give the computer an address on %1, or "
                                "set the device's address.")
                     .arg(networkText(entry.address, 24));
    case UnlistedReason::LinkLocal:
        return answered
               + QStringLiteral("it has a self-assigned address (169.254.0.0/16): it found no DHCP server, and its web "
                                "page cannot be reached from here. Give the device an address on %1, or connect it to "
                                "a network with a DHCP server.")
                     .arg(on.isEmpty() ? QStringLiteral("one of this computer's networks")
                                       : networkText(interface->address, interface->prefixLength));
    case UnlistedReason::NoAnswer:
        return answered
               + QStringLiteral("gave no answer when asked for its details over HTTP (port 80). It may be busy, or a "
                                "firewall may drop the connection: try again, or open http://%1 in a browser.")
                     .arg(address);
    case UnlistedReason::Refused:
        return answered + QStringLiteral("refused the connection when asked for its details over HTTP (port 80): its "
                                         "web server may be turned off.");
    case UnlistedReason::HttpStatus:
        return answered
               + QStringLiteral("gave HTTP status %1 instead of its details when asked for them.").arg(entry.status);
    case UnlistedReason::NotJson:
        return answered + QStringLiteral("its answer to the request for its details was not a JSON object: it may be "
                                         "another kind of device.");
    case UnlistedReason::NoMac:
        return answered + QStringLiteral("its details name no MAC address, by which the list knows a device: it was "
                                         "shown while the run went on, and left the list at its end.");
    case UnlistedReason::NotProbed:
        break;
    }
    return answered + QStringLiteral("was not asked for its details: the run was stopped, or more devices answered "
                                     "than one run asks.");
}

QString DiscoveryReport::toText() const
{
    QStringList paragraphs;
    QStringList interfaces{QStringLiteral("Interfaces:")};
    for (const Interface &interface : m_interfaces) {
        QString name = interfaceText(&interface);
        if (interface.index == 0)
            name = QStringLiteral("The interface the routing table chose");
        else if (name.isEmpty())
            name = QStringLiteral("Interface %1, not listed by the system").arg(interface.index);
        interfaces.append(QStringLiteral("%1: %2; %3.")
                              .arg(name, protocolText(interface, DiscoveryProtocol::Corva),
                                   protocolText(interface, DiscoveryProtocol::Xpico)));
    }
    if (m_interfaces.isEmpty())
        interfaces.append(QStringLiteral("None is up."));
    paragraphs.append(interfaces.join(u'\n'));
    paragraphs.append(m_replyPort != 0
                          ? QStringLiteral("Replies were awaited on UDP port %1.").arg(m_replyPort)
                          : QStringLiteral("Replies were awaited on a UDP port the system picked for each broadcast."));
    if (m_hint)
        paragraphs.append(QStringLiteral(
            "No device answered the discovery broadcasts: either none is on the networks this computer is attached "
            "to, or a firewall drops their replies. Give the replies a fixed port (--reply-port PORT) and let UDP to "
            "that port in, or use the IP range scan."));
    if (!m_unlisted.isEmpty())
        paragraphs.append(summaryLine() + u':');
    for (const Unlisted &entry : unlisted())
        paragraphs.append(unlistedText(entry));
    if (const qsizetype more = unlistedNotShown(); more > 0)
        paragraphs.append(QStringLiteral("Only the first %1 are shown: %2 more answered but %3 not listed.")
                              .arg(maxUnlisted)
                              .arg(more)
                              .arg(more == 1 ? QStringLiteral("is") : QStringLiteral("are")));
    return paragraphs.join(QStringLiteral("\n\n")) + u'\n';
}

QString DiscoveryReport::summaryLine() const
{
    const qsizetype count = unlistedDevices();
    if (count == 1)
        return QStringLiteral("1 device answered but is not listed");
    if (count > 1)
        return QStringLiteral("%1 devices answered but are not listed").arg(count);
    return m_hint ? QStringLiteral("No device answered the discovery broadcasts") : QString();
}
