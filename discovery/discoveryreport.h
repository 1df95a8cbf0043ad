#pragma once

#include "discovery/broadcastprotocol.h"
#include "localnet/networkinterfaces.h"
#include "platform/addresstext.h"
#include "probes/probejob.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

#include <array>
#include <mutex>
#include <optional>

// What a discovery run says, in its log and its report, when neither broadcast found anyone.
inline constexpr const char *noDeviceAnsweredHint =
    "No device answered the discovery broadcasts: either none is on the networks this computer is attached to, or "
    "a firewall drops their replies. Give --reply-port PORT and let UDP to that port in, or use the IP range scan";

// What one discovery run sent and heard, and why each responder that answered did not
// become a row: collected as the run goes, written as JSON for scripts and in plain words
// for people. A plain value: one thread at a time changes it.
class DiscoveryReport final {
public:
    // A flood of responders shows this many entries and counts the rest...
    static constexpr qsizetype maxUnlisted = 256;
    // ...and keeps track of this many a protocol, more than a run probes.
    static constexpr qsizetype maxTracked = 2048;

    // One interface, by its first IPv4 address. The counts are per protocol, indexed by
    // DiscoveryProtocol.
    struct Interface final {
        unsigned index = 0;
        QString name; // empty for an interface the system did not list
        quint32 address = 0;
        int prefixLength = 0;
        PerProtocol<bool> sent{};
        PerProtocol<QString> sendError{}; // why a request could not leave by it
        PerProtocol<int> replies{}; // every datagram that came in on it
        PerProtocol<int> bad{};     // those of them that failed the reply check
    };

    // A responder that answered and is not listed. Its reason: an address on none of the
    // computer's networks (off-network, link-local), whatever its probe got, which stands
    // beside it as detail; else how its probe ended; else that it was not probed.
    struct Unlisted final {
        Address address; // an IPv4 address
        DiscoveryProtocol protocol = DiscoveryProtocol::Corva;
        unsigned interfaceIndex = 0;
        ResponderPlace place = ResponderPlace::OnNetwork;
        std::optional<ProbeOutcome> probe; // nothing until its probe has ended
    };

    DiscoveryReport() = default;
    // `interfaces`: the computer's, as the run began; every one that is up and not loopback
    // is reported, others once something went through them. `replyPort`: the one given, 0
    // when the system picks one for each broadcast.
    DiscoveryReport(const QList<NetworkInterface> &interfaces, quint16 replyPort);

    // A request that left by this interface (0: where the routing table sent it), or could
    // not, with the system's word for why.
    void noteSent(DiscoveryProtocol protocol, unsigned interfaceIndex);
    void noteNotSent(DiscoveryProtocol protocol, unsigned interfaceIndex, const QString &error);
    // A broadcast that could not be made at all: its socket, its reply port, no interface.
    void noteSetUpFailed(DiscoveryProtocol protocol, const QString &why);
    // A datagram that came in on this interface, and whether it passed the reply check.
    void noteReply(DiscoveryProtocol protocol, unsigned interfaceIndex, bool valid);
    // A responder (an IPv4 address) about to be probed: until its probe ends, it is one that
    // was not probed. Repeats of an address for one protocol are kept once.
    void noteResponder(DiscoveryProtocol protocol, const Address &address, unsigned interfaceIndex);
    // How its probe ended: a responder listed by either probe leaves the report for good,
    // and a stopped probe leaves it not probed.
    void noteProbed(DiscoveryProtocol protocol, const Address &address, const ProbeOutcome &outcome);
    // Whether the run told that no device answered either broadcast.
    void setHint(bool applied) { m_hint = applied; }

    const QList<Interface> &interfaces() const { return m_interfaces; }
    // The first maxUnlisted responders not listed, and how many more entries there are.
    QList<Unlisted> unlisted() const { return m_unlisted.mid(0, maxUnlisted); }
    qsizetype unlistedNotShown() const { return m_unlisted.size() - unlisted().size(); }
    bool hint() const { return m_hint; }
    quint16 replyPort() const { return m_replyPort; }
    // The devices not listed, each source address once: exactly, unless more responders
    // answered than the report keeps track of, when it is the least there are.
    qsizetype unlistedDevices() const;
    bool unlistedBeyondTracking() const { return m_beyondTracking; }

    // Why the run could ask no device at all: no request left by any interface. Empty when one
    // did.
    QString failure() const;
    // Whether every request the run meant to send left: a run that could not send some asks
    // only part of the devices.
    bool askedEverything() const;

    // {"interfaces": [...], "unlisted": [...], "unlistedNotShown", "unlistedDevices",
    // "unlistedBeyondTracking", "replyPort" (null when the system picked it), "hint",
    // "failure" (null when something was sent)}, indented, ending in a newline.
    QByteArray toJson() const;
    // The report in plain words, one paragraph per responder not listed.
    QString toText() const;
    // The line under the table: that no device could be asked and why, "2 devices answered
    // but are not listed", or that none answered; empty when there is nothing to explain. The
    // window adds its "Details".
    QString summaryLine() const;

private:
    Interface &interfaceEntry(unsigned index);
    const Interface *findInterface(unsigned index) const;
    QString unlistedText(const Unlisted &entry) const;
    QList<Unlisted>::iterator findUnlisted(DiscoveryProtocol protocol, const Address &address);

    QList<NetworkInterface> m_known;
    QList<Interface> m_interfaces;
    QList<Unlisted> m_unlisted;   // in the order the responders answered
    PerProtocol<qsizetype> m_tracked{}; // of m_unlisted's entries, by protocol, listed or not
    QSet<Address> m_listed;       // addresses a probe listed
    bool m_beyondTracking = false; // a responder answered past maxTracked
    PerProtocol<QString> m_setUpFailure{};
    quint16 m_replyPort = 0;
    bool m_hint = false;
};

// A discovery run's report while the run collects it: its task writes it, and the main
// thread takes a copy when the run ends, stopped or not; a responder not yet asked then
// stands as not probed. Any thread.
class ReportInProgress final {
public:
    ReportInProgress(QList<NetworkInterface> interfaces, quint16 replyPort)
        : m_interfaces(std::move(interfaces)), m_report(m_interfaces, replyPort)
    {
    }

    // The computer's interfaces as the run began; they do not change.
    const QList<NetworkInterface> &interfaces() const { return m_interfaces; }

    template <typename Change>
    void change(Change &&change)
    {
        const std::lock_guard lock(m_mutex);
        change(m_report);
    }
    DiscoveryReport copy() const
    {
        const std::lock_guard lock(m_mutex);
        return m_report;
    }

private:
    const QList<NetworkInterface> m_interfaces;
    mutable std::mutex m_mutex;
    DiscoveryReport m_report;
};
