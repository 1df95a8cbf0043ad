#include "discovery/discoveryreport.h"
#include "platform/addresstext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <arpa/inet.h>
#include <net/if.h>

using namespace Qt::StringLiterals;

namespace {

constexpr unsigned up = IFF_UP | IFF_BROADCAST;

quint32 ip(const char *text)
{
    return ntohl(inet_addr(text));
}

// A made-up computer on two networks, with loopback.
const QList<NetworkInterface> computer{{u"lo"_s, 1, IFF_UP | IFF_LOOPBACK, ip("127.0.0.1"), 8},
                                       {u"eth1"_s, 2, up, ip("192.168.7.2"), 24},
                                       {u"wlan0"_s, 3, up, ip("10.20.0.5"), 16}};

QJsonObject parsed(const DiscoveryReport &report)
{
    return QJsonDocument::fromJson(report.toJson()).object();
}

// A responder on eth1 (or another interface) whose probe ended so; Stopped: not probed.
void noteUnlisted(DiscoveryReport &report, DiscoveryProtocol protocol, const QString &address, ProbeOutcome::Kind probe,
                  unsigned interfaceIndex = 2)
{
    report.noteResponder(protocol, addressFromText(address), interfaceIndex);
    report.noteProbed(protocol, addressFromText(address), {probe, 503});
}

} // namespace

class TestDiscoveryReport final : public QObject {
    Q_OBJECT

private slots:
    // words: a piece of the paragraph people read.
    void reasons_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<ProbeOutcome::Kind>("probe");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("detail"); // how the probe ended, beside a reason of the address
        QTest::addColumn<QString>("words");
        using K = ProbeOutcome::Kind;
        const auto row = [](const char *name, const QString &address, K probe, const QString &reason,
                            const QString &detail, const QString &words) {
            QTest::newRow(name) << address << probe << reason << detail << words;
        };
        row("factory address", u"10.0.0.50"_s, K::NoAnswer, u"off-network"_s, u"no-answer"_s,
            u"10.0.0.50 answered on eth1 (192.168.7.2/24), but its address is not on that network: its web page "
            "cannot be reached from here. Give the computer an address on 10.0.0.0/24, or set the device's address."_s);
        row("another interface's network", u"10.20.9.9"_s, K::NoAnswer, u"no-answer"_s, {}, u"http://10.20.9.9"_s);
        row("self-assigned", u"169.254.3.4"_s, K::NoAnswer, u"link-local"_s, u"no-answer"_s, u"address on 192.168.7.0/24"_s);
        // Off the computer's networks, the address explains whatever the probe got.
        row("self-assigned, not JSON", u"169.254.3.4"_s, K::NotJson, u"link-local"_s, u"not-json"_s, u"self-assigned"_s);
        row("off-network, not probed", u"10.0.0.50"_s, K::Stopped, u"off-network"_s, {}, u"not on that network"_s);
        row("status", u"192.168.7.20"_s, K::HttpStatus, u"http-status"_s, {}, u"HTTP status 503"_s);
        row("refused", u"192.168.7.20"_s, K::Refused, u"refused"_s, {}, u"refused the connection"_s);
        row("not probed", u"192.168.7.20"_s, K::Stopped, u"not-probed"_s, {}, u"was not asked"_s);
        row("no MAC address", u"192.168.7.21"_s, K::NoMac, u"no-mac"_s, {}, u"name no MAC address"_s);
    }

    void reasons()
    {
        QFETCH(QString, address);
        QFETCH(ProbeOutcome::Kind, probe);
        QFETCH(QString, reason);
        QFETCH(QString, detail);
        QFETCH(QString, words);
        DiscoveryReport report(computer, 0);
        noteUnlisted(report, DiscoveryProtocol::Xpico, address, probe);
        const QJsonObject entry = parsed(report).value(u"unlisted"_s).toArray().at(0).toObject();
        QJsonObject expected{{u"address"_s, address}, {u"protocol"_s, u"xpico"_s}, {u"interface"_s, u"eth1"_s},
                             {u"reason"_s, reason}};
        if (!detail.isEmpty())
            expected.insert(u"probe"_s, detail);
        if (probe == ProbeOutcome::Kind::HttpStatus)
            expected.insert(u"status"_s, 503);
        QCOMPARE(entry, expected);
        QVERIFY2(report.toText().contains(words), qPrintable(report.toText()));
    }

    // A device one probe listed is never unlisted because the other failed (a 404 gateway page).
    void listedByEitherProbe()
    {
        DiscoveryReport report(computer, 0);
        const Address address = addressFromText(u"192.168.7.9");
        for (const DiscoveryProtocol protocol : {DiscoveryProtocol::Corva, DiscoveryProtocol::Xpico})
            report.noteResponder(protocol, address, 2);
        report.noteProbed(DiscoveryProtocol::Corva, address, {ProbeOutcome::Kind::Listed});
        report.noteProbed(DiscoveryProtocol::Xpico, address, {ProbeOutcome::Kind::HttpStatus, 404});
        noteUnlisted(report, DiscoveryProtocol::Xpico, u"192.168.7.9"_s, ProbeOutcome::Kind::HttpStatus);
        QVERIFY(report.unlisted().isEmpty());
        QCOMPARE(report.summaryLine(), QString());
    }

    // Nothing sent anywhere is a failure that says why; something sent is none, but not all was asked.
    void failures()
    {
        DiscoveryReport report(computer, 47800);
        QVERIFY(report.askedEverything());
        report.noteSetUpFailed(DiscoveryProtocol::Corva, u"the reply port 47800 could not be bound: Address in use"_s);
        report.noteSetUpFailed(DiscoveryProtocol::Xpico, u"the reply port 47800 could not be bound: Address in use"_s);
        QCOMPARE(report.summaryLine(), u"No device could be asked: the reply port 47800 could not be bound: Address in use"_s);
        QCOMPARE(parsed(report).value(u"failure"_s).toString(), u"the reply port 47800 could not be bound: Address in use"_s);
        QVERIFY(!report.askedEverything());

        DiscoveryReport partly(computer, 0);
        partly.noteNotSent(DiscoveryProtocol::Corva, 2, u"Network is unreachable"_s);
        QCOMPARE(partly.failure(), u"no request could be sent: Network is unreachable"_s);
        partly.noteSent(DiscoveryProtocol::Corva, 3);
        QCOMPARE(partly.failure(), QString());
        QVERIFY(!partly.askedEverything());
        QCOMPARE(parsed(partly).value(u"failure"_s), QJsonValue(QJsonValue::Null));
        QVERIFY(partly.toText().contains(u"eth1 (192.168.7.2/24): Corva not sent (Network is unreachable)"_s));
    }

    // The names scripts read; texts that are data come back as they went in.
    void json()
    {
        const QString hostile = u"e\"t\\h<b>1</b>\u0007"_s;
        DiscoveryReport report(computer + QList<NetworkInterface>{{hostile, 4, up, ip("172.16.1.1"), 24},
                                                                  {u"eth9"_s, 5, IFF_BROADCAST, ip("172.17.1.1"), 24}},
                               47800);
        report.noteSent(DiscoveryProtocol::Corva, 4);
        report.noteReply(DiscoveryProtocol::Corva, 4, true);
        report.noteReply(DiscoveryProtocol::Corva, 4, false);
        report.noteReply(DiscoveryProtocol::Xpico, 1, true); // loopback, shown once a reply came in on it
        noteUnlisted(report, DiscoveryProtocol::Corva, u"10.0.0.50"_s, ProbeOutcome::Kind::NoAnswer, 4);
        report.setHint(true);

        const QJsonObject object = parsed(report);
        QCOMPARE(object.keys(),
                 (QStringList{u"failure"_s, u"hint"_s, u"interfaces"_s, u"replyPort"_s, u"unlisted"_s,
                              u"unlistedBeyondTracking"_s, u"unlistedDevices"_s, u"unlistedNotShown"_s}));
        QCOMPARE(object.value(u"replyPort"_s).toInt(), 47800);
        QCOMPARE(object.value(u"hint"_s), QJsonValue(true));
        const QJsonArray interfaces = object.value(u"interfaces"_s).toArray();
        QCOMPARE(interfaces.size(), 4); // eth1, wlan0, the hostile one, lo; not the one that is down
        const auto pair = [](const QJsonValue &corva, const QJsonValue &xpico) {
            return QJsonObject{{u"corva"_s, corva}, {u"xpico"_s, xpico}};
        };
        QCOMPARE(interfaces.at(2).toObject(),
                 (QJsonObject{{u"name"_s, hostile}, {u"address"_s, u"172.16.1.1"_s}, {u"prefixLength"_s, 24},
                              {u"sent"_s, pair(true, false)}, {u"replies"_s, pair(2, 0)}, {u"bad"_s, pair(1, 0)},
                              {u"sendError"_s, pair(QJsonValue::Null, QJsonValue::Null)}}));
        QCOMPARE(interfaces.at(3)[u"name"_s].toString(), u"lo"_s);
        QCOMPARE(object.value(u"unlisted"_s)[0][u"interface"_s].toString(), hostile);
        QVERIFY(report.toText().contains(hostile + u" (172.16.1.1/24)"_s));
        QCOMPARE(parsed(DiscoveryReport(computer, 0)).value(u"replyPort"_s), QJsonValue(QJsonValue::Null));
    }

    // A flood keeps the first entries and counts the rest; repeats of an address are one.
    void cap()
    {
        DiscoveryReport report(computer, 0);
        QCOMPARE(report.summaryLine(), QString());
        report.setHint(true);
        QCOMPARE(report.summaryLine(), u"No device answered the discovery broadcasts"_s);
        using P = DiscoveryProtocol;
        for (const P protocol : {P::Corva, P::Corva, P::Xpico})
            noteUnlisted(report, protocol, u"192.168.7.9"_s, ProbeOutcome::Kind::NotJson);
        QCOMPARE(report.unlisted().size(), 2);
        QCOMPARE(report.summaryLine(), u"1 device answered but is not listed"_s);
        for (int i = 0; i < 300; ++i)
            report.noteResponder(P::Corva, addressFromText(u"10.9.%1.%2"_s.arg(i / 256).arg(i % 256)), 2);
        QCOMPARE(parsed(report).value(u"unlisted"_s).toArray().size(), DiscoveryReport::maxUnlisted);
        QCOMPARE(parsed(report).value(u"unlistedNotShown"_s).toInt(), 302 - 256);
        QCOMPARE(report.summaryLine(), u"301 devices answered but are not listed"_s);
        // A responder stands as not probed until its probe lists it.
        report.noteResponder(P::Xpico, addressFromText(u"10.1.1.1"_s), 2);
        QCOMPARE(report.summaryLine(), u"302 devices answered but are not listed"_s);
        report.noteProbed(P::Xpico, addressFromText(u"10.1.1.1"_s), {ProbeOutcome::Kind::Listed});
        QCOMPARE(report.summaryLine(), u"301 devices answered but are not listed"_s);
        // Past the tracking bound, devices are counted, not datagrams, and as the least there are.
        for (int i = 0; i < 3 * int(DiscoveryReport::maxTracked); ++i)
            report.noteResponder(P::Corva, addressFromText(u"10.8.%1.%2"_s.arg(i / 2 / 256).arg(i / 2 % 256)), 2);
        QCOMPARE(report.unlistedDevices(), DiscoveryReport::maxTracked);
        QCOMPARE(report.summaryLine(), u"At least 2,048 devices answered but are not listed"_s);
        QCOMPARE(parsed(report).value(u"unlistedBeyondTracking"_s), QJsonValue(true));
    }
};

QTEST_GUILESS_MAIN(TestDiscoveryReport)
#include "tst_discoveryreport.moc"
