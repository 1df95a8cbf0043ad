#include "discovery/discoveryreport.h"

#include "platform/englishtext.h"
#include "platform/safejson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <net/if.h>

#include <algorithm>

namespace {

// What explains an entry best: the place of its address, when that is on none of the
// computer's networks.
std::optional<ResponderPlace> explainingPlace(const DiscoveryReport::Unlisted &entry)
{
    if (entry.place == ResponderPlace::OnNetwork)
        return std::nullopt;
    return entry.place;
}

QString probeName(const ProbeOutcome &outcome)
{
    switch (outcome.kind) {
    case ProbeOutcome::Kind::NoAnswer:
        return QStringLiteral("no-answer");
    case ProbeOutcome::Kind::Refused:
        return QStringLiteral("refused");
    case ProbeOutcome::Kind::NoRoute:
        return QStringLiteral("no-route");
    case ProbeOutcome::Kind::HttpStatus:
        return QStringLiteral("http-status");
    case ProbeOutcome::Kind::NotJson:
        return QStringLiteral("not-json");
    case ProbeOutcome::Kind::NoMac:
        return QStringLiteral("no-mac");
    case ProbeOutcome::Kind::Listed:
    case ProbeOutcome::Kind::Stopped:
        break;
    }
    return QStringLiteral("not-probed");
}

QString reasonName(const DiscoveryReport::Unlisted &entry)
{
    if (const std::optional<ResponderPlace> place = explainingPlace(entry))
        return *place == ResponderPlace::LinkLocal ? QStringLiteral("link-local") : QStringLiteral("off-network");
    return entry.probe ? probeName(*entry.probe) : QStringLiteral("not-probed");
}

QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

bool isHttpStatus(const DiscoveryReport::Unlisted &entry)
{
    return entry.probe && entry.probe->kind == ProbeOutcome::Kind::HttpStatus;
}

// {"corva": ..., "xpico": ...}: each protocol's value by its name, as `value` gives it.
template <typename T, typename Value = QJsonValue (*)(const T &)>
QJsonObject perProtocol(const PerProtocol<T> &values, Value value = [](const T &each) { return QJsonValue(each); })
{
    QJsonObject object;
    for (const DiscoveryProtocol protocol : discoveryProtocols)
        object.insert(protocolTitle(protocol).toLower(), value(values[std::size_t(protocol)]));
    return object;
}

QString networkText(quint32 address, int prefixLength)
{
    return QStringLiteral("%1/%2").arg(dottedQuad(networkOf(address, prefixLength))).arg(prefixLength);
}

// "eth1 (192.168.7.2/24)"; empty for an interface the system did not list.
QString interfaceText(const DiscoveryReport::Interface *interface)
{
    if (!interface || interface->name.isEmpty())
        return {};
    return QStringLiteral("%1 (%2/%3)").arg(interface->name, dottedQuad(interface->address)).arg(interface->prefixLength);
}

QString protocolText(const DiscoveryReport::Interface &interface, DiscoveryProtocol protocol)
{
    const auto k = std::size_t(protocol);
    const QString sent = interface.sent[k]                   ? QStringLiteral("sent")
                         : interface.sendError[k].isEmpty() ? QStringLiteral("not sent")
                                                            : QStringLiteral("not sent (%1)").arg(interface.sendError[k]);
    return QStringLiteral("%1 %2, %3 %4, %5 bad")
        .arg(protocolTitle(protocol), sent)
        .arg(interface.replies[k])
        .arg(interface.replies[k] == 1 ? QStringLiteral("reply") : QStringLiteral("replies"))
        .arg(interface.bad[k]);
}

} // namespace

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

void DiscoveryReport::noteNotSent(DiscoveryProtocol protocol, unsigned interfaceIndex, const QString &error)
{
    interfaceEntry(interfaceIndex).sendError[std::size_t(protocol)] = error;
}

void DiscoveryReport::noteSetUpFailed(DiscoveryProtocol protocol, const QString &why)
{
    m_setUpFailure[std::size_t(protocol)] = why;
}

QString DiscoveryReport::failure() const
{
    QString sendError;
    for (const Interface &interface : m_interfaces) {
        if (std::any_of(interface.sent.cbegin(), interface.sent.cend(), [](bool sent) { return sent; }))
            return {};
        for (const QString &error : interface.sendError) {
            if (sendError.isEmpty())
                sendError = error;
        }
    }
    for (const QString &why : m_setUpFailure) {
        if (!why.isEmpty())
            return why;
    }
    return sendError.isEmpty() ? QString() : QStringLiteral("no request could be sent: ") + sendError;
}

bool DiscoveryReport::askedEverything() const
{
    const auto none = [](const PerProtocol<QString> &texts) {
        return std::all_of(texts.cbegin(), texts.cend(), [](const QString &text) { return text.isEmpty(); });
    };
    return none(m_setUpFailure)
           && std::all_of(m_interfaces.cbegin(), m_interfaces.cend(),
                          [&](const Interface &interface) { return none(interface.sendError); });
}

void DiscoveryReport::noteReply(DiscoveryProtocol protocol, unsigned interfaceIndex, bool valid)
{
    Interface &interface = interfaceEntry(interfaceIndex);
    ++interface.replies[std::size_t(protocol)];
    if (!valid)
        ++interface.bad[std::size_t(protocol)];
}

void DiscoveryReport::noteResponder(DiscoveryProtocol protocol, const Address &address, unsigned interfaceIndex)
{
    const std::optional<quint32> value = address.ipv4();
    if (!value || m_listed.contains(address) || findUnlisted(protocol, address) != m_unlisted.end())
        return;
    qsizetype &tracked = m_tracked[std::size_t(protocol)];
    if (tracked >= maxTracked) {
        m_beyondTracking = true;
        return;
    }
    ++tracked;
    if (interfaceIndex != 0)
        interfaceEntry(interfaceIndex);
    m_unlisted.append({address, protocol, interfaceIndex, placeOf(*value, m_known), std::nullopt});
}

void DiscoveryReport::noteProbed(DiscoveryProtocol protocol, const Address &address, const ProbeOutcome &outcome)
{
    if (outcome.kind == ProbeOutcome::Kind::Listed) {
        // Listed by one probe, a device is listed: the other's failure tells nothing.
        m_listed.insert(address);
        m_unlisted.removeIf([&address](const Unlisted &entry) { return entry.address == address; });
        return;
    }
    const auto entry = findUnlisted(protocol, address);
    if (entry != m_unlisted.end() && outcome.kind != ProbeOutcome::Kind::Stopped)
        entry->probe = outcome;
}

QList<DiscoveryReport::Unlisted>::iterator DiscoveryReport::findUnlisted(DiscoveryProtocol protocol,
                                                                        const Address &address)
{
    return std::find_if(m_unlisted.begin(), m_unlisted.end(), [&](const Unlisted &entry) {
        return entry.address == address && entry.protocol == protocol;
    });
}

qsizetype DiscoveryReport::unlistedDevices() const
{
    QSet<Address> addresses;
    for (const Unlisted &entry : m_unlisted)
        addresses.insert(entry.address);
    return addresses.size();
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
            {QStringLiteral("address"), named ? dottedQuad(interface.address) : QString()},
            {QStringLiteral("prefixLength"), interface.prefixLength},
            {QStringLiteral("sent"), perProtocol(interface.sent)},
            {QStringLiteral("replies"), perProtocol(interface.replies)},
            {QStringLiteral("bad"), perProtocol(interface.bad)},
            {QStringLiteral("sendError"), perProtocol(interface.sendError, textOrNull)},
        });
    }
    QJsonArray unlisted;
    for (const Unlisted &entry : this->unlisted()) {
        const Interface *interface = findInterface(entry.interfaceIndex);
        QJsonObject object{
            {QStringLiteral("address"), addressText(entry.address)},
            {QStringLiteral("protocol"), protocolTitle(entry.protocol).toLower()},
            {QStringLiteral("interface"), interface ? interface->name : QString()},
            {QStringLiteral("reason"), reasonName(entry)},
        };
        // Where the address explains it, how the probe ended stands beside it.
        if (explainingPlace(entry) && entry.probe)
            object.insert(QStringLiteral("probe"), probeName(*entry.probe));
        if (isHttpStatus(entry))
            object.insert(QStringLiteral("status"), entry.probe->status);
        unlisted.append(object);
    }
    const QJsonObject report{
        {QStringLiteral("interfaces"), interfaces},
        {QStringLiteral("unlisted"), unlisted},
        {QStringLiteral("unlistedNotShown"), qint64(unlistedNotShown())},
        {QStringLiteral("unlistedDevices"), qint64(unlistedDevices())},
        {QStringLiteral("unlistedBeyondTracking"), m_beyondTracking},
        {QStringLiteral("replyPort"), m_replyPort != 0 ? QJsonValue(m_replyPort) : QJsonValue()},
        {QStringLiteral("hint"), m_hint},
        {QStringLiteral("failure"), textOrNull(failure())},
    };
    return safeJson(QJsonDocument(report));
}

QString DiscoveryReport::unlistedText(const Unlisted &entry) const
{
    const QString address = addressText(entry.address);
    const Interface *interface = findInterface(entry.interfaceIndex);
    const QString on = interfaceText(interface);
    const QString answered = on.isEmpty() ? QStringLiteral("%1 answered, but ").arg(address)
                                          : QStringLiteral("%1 answered on %2, but ").arg(address, on);
    const std::optional<ResponderPlace> place = explainingPlace(entry);
    if (place == ResponderPlace::OffNetwork)
        return answered
               + (on.isEmpty() ? QStringLiteral("its address is on none of this computer's networks")
                               : QStringLiteral("its address is not on that network"))
               + QStringLiteral(": its web page cannot be reached from here. Give the computer an address on %1, or "
                                "set the device's address.")
                     .arg(networkText(entry.address.ipv4().value_or(0), 24));
    if (place == ResponderPlace::LinkLocal)
        return answered
               + QStringLiteral("it has a self-assigned address (169.254.0.0/16): it found no DHCP server, and its web "
                                "page cannot be reached from here. Give the device an address on %1, or connect it to "
                                "a network with a DHCP server.")
                     .arg(on.isEmpty() ? QStringLiteral("one of this computer's networks")
                                       : networkText(interface->address, interface->prefixLength));
    switch (entry.probe ? entry.probe->kind : ProbeOutcome::Kind::Stopped) {
    case ProbeOutcome::Kind::NoAnswer:
        return answered
               + QStringLiteral("gave no answer when asked for its details over HTTP (port 80). It may be busy, or a "
                                "firewall may drop the connection: try again, or open http://%1 in a browser.")
                     .arg(address);
    case ProbeOutcome::Kind::Refused:
        return answered + QStringLiteral("refused the connection when asked for its details over HTTP (port 80): its "
                                         "web server may be turned off.");
    case ProbeOutcome::Kind::NoRoute:
        return answered + QStringLiteral("could not be asked for its details: this computer has no route to it.");
    case ProbeOutcome::Kind::HttpStatus:
        return answered
               + QStringLiteral("gave HTTP status %1 instead of its details when asked for them.").arg(entry.probe->status);
    case ProbeOutcome::Kind::NotJson:
        return answered + QStringLiteral("its answer to the request for its details was not a JSON object: it may be "
                                         "another kind of device.");
    case ProbeOutcome::Kind::NoMac:
        return answered + QStringLiteral("its details name no MAC address, by which the list knows a device: it was "
                                         "shown while the run went on, and left the list at its end.");
    case ProbeOutcome::Kind::Listed:
    case ProbeOutcome::Kind::Stopped:
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
        QStringList protocols;
        for (const DiscoveryProtocol protocol : discoveryProtocols)
            protocols.append(protocolText(interface, protocol));
        interfaces.append(QStringLiteral("%1: %2.").arg(name, protocols.join(QStringLiteral("; "))));
    }
    if (m_interfaces.isEmpty())
        interfaces.append(QStringLiteral("None is up."));
    paragraphs.append(interfaces.join(u'\n'));
    paragraphs.append(m_replyPort != 0
                          ? QStringLiteral("Replies were awaited on UDP port %1.").arg(m_replyPort)
                          : QStringLiteral("Replies were awaited on a UDP port the system picked for each broadcast."));
    if (const QString why = failure(); !why.isEmpty())
        paragraphs.append(QStringLiteral("No device could be asked: %1.").arg(why));
    if (m_hint)
        paragraphs.append(QString::fromLatin1(noDeviceAnsweredHint) + u'.');
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
    if (const QString why = failure(); !why.isEmpty())
        return QStringLiteral("No device could be asked: %1").arg(why);
    const qsizetype count = unlistedDevices();
    if (m_beyondTracking)
        return QStringLiteral("At least %1 devices answered but are not listed").arg(groupedNumber(quint64(count)));
    if (count == 1)
        return QStringLiteral("1 device answered but is not listed");
    if (count > 1)
        return QStringLiteral("%1 devices answered but are not listed").arg(groupedNumber(quint64(count)));
    return m_hint ? QStringLiteral("No device answered the discovery broadcasts") : QString();
}
