#include "destinations/deliveryengine.h"
#include "destinations/destinationmessage.h"
#include "destinations/destinationsfile.h"
#include "destinations/destinationtarget.h"
#include "destinations/outgoingmessage.h"
#include "support/logcapture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <mutex>

using namespace Qt::StringLiterals;

namespace {

QByteArray fileWith(const QByteArray &destinations)
{
    return R"({"format": "devicefinder-destinations", "version": 1, "destinations": [)" + destinations + "]}";
}

Destination destinationOf(const QByteArray &json)
{
    const DestinationsFile file = parseDestinations(fileWith(json));
    if (file.status != DestinationsFile::Status::Read || file.destinations.size() != 1)
        qFatal("not one destination: %s", qPrintable(file.problem));
    return file.destinations.first();
}

// "missing:roof-gw@10.0.0.7" a change of a device with that host name and address.
DestinationChange change(const QString &text, int number = 1)
{
    DeviceRecord record;
    const QString host = text.section(u':', 1).section(u'@', 0, 0);
    if (!host.isEmpty())
        record.setValue(DeviceKey::hostname, host);
    record.setValue(DeviceKey::ipAddress, text.section(u'@', 1));
    record.setValue(DeviceKey::macAddress, u"00:20:4a:00:00:%1"_s.arg(number, 2, 16, QChar(u'0')));
    const QString event = text.section(u':', 0, 0);
    const auto kind = event == u"missing" ? WatchEvent::Kind::Missing : event == u"back" ? WatchEvent::Kind::Back : WatchEvent::Kind::New;
    const QDateTime time = QDateTime::fromString(u"2026-12-08T09:14:03Z"_s, Qt::ISODate);
    return {{kind, std::make_shared<const DeviceRecord>(record), {}, true}, time, time.addSecs(-600), {}};
}

QList<DestinationChange> manyNew(int count)
{
    QList<DestinationChange> changes;
    for (int i = 0; i < count; ++i)
        changes.append(change(u"new:d%1@10.0.0.%1"_s.arg(i), i));
    return changes;
}

// A stand-in HTTP server on loopback: it answers each request with the next status of its
// list (the last one again once they are used up; 0 never answers) and keeps what came.
class StandIn final {
public:
    explicit StandIn(QList<int> statuses) : m_statuses(std::move(statuses))
    {
        QVERIFY(m_server.listen(QHostAddress::LocalHost));
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            QTcpSocket *socket = m_server.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { read(socket); });
        });
    }
    QByteArray url() const { return "http://127.0.0.1:" + QByteArray::number(m_server.serverPort()) + "/hook"; }
    QList<QByteArray> requests;

private:
    void read(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const qsizetype length = buffer.mid(buffer.toLower().indexOf("content-length:") + 15).split('\r').first().trimmed().toLongLong();
        if (buffer.size() < end + 4 + length)
            return;
        requests.append(buffer);
        const int status = m_statuses.size() > 1 ? m_statuses.takeFirst() : m_statuses.first();
        if (status == 0)
            return;
        // The reason repeats the target, as some servers' errors do, secrets and all.
        const QByteArray target = buffer.split(' ').value(1);
        socket->write("HTTP/1.1 " + QByteArray::number(status) + " Stand-in " + target
                      + "\r\nContent-Length: 4\r\nConnection: close\r\n\r\nbody");
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QList<int> m_statuses;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};

} // namespace

class tst_Destinations final : public QObject {
    Q_OBJECT

private slots:
    // A destination's templates and the message of one change and of many.
    void messages_data();
    void messages();
    // Each kind's request: what no device text may break, and where each secret goes.
    void requests_data();
    void requests();
    // A file that breaks a rule is refused whole, saying why and where.
    void refusals_data();
    void refusals();
    // What a sound file holds may still send nothing: secrets in clear or not to be read.
    void destinationProblems_data();
    void destinationProblems();
    // A 500 is tried again and the 400 after it is not; a message waiting for its retry does
    // not hold another destination's; the server's words come back without the secret.
    void deliveryRetriesWhatIsWorthIt();
    // A server that never answers holds neither the one who queues nor quitting, which drops
    // what is left with one line.
    void quittingWaitsBoundedly();
};

void tst_Destinations::messages_data()
{
    QTest::addColumn<QByteArray>("destination");
    QTest::addColumn<QList<DestinationChange>>("changes");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    const QByteArray ntfy = R"("kind": "ntfy", "server": "https://push.example", "topic": "t")";
    QTest::newRow("one change, default templates")
        << R"({"name": "p", )" + ntfy + "}" << QList{change(u"missing:roof-gw@10.0.0.7"_s)}
        << u"missing: roof-gw"_s << u"roof-gw (00:20:4a:00:00:01) missing at 10.0.0.7, 2026-12-08T09:14:03Z"_s;
    QTest::newRow("one change, the user's templates")
        << R"({"name": "p", "title": "{site}: {hostname} {event}", "body": "since {since} [{label}]", )" + ntfy + "}"
        << QList{change(u"back:gw@10.0.0.7"_s)} << u"roof: gw back"_s << u"since 2026-12-08T09:04:03Z []"_s;
    QTest::newRow("a nameless device is named by its address")
        << R"({"name": "p", )" + ntfy + "}" << QList{change(u"new:@10.0.0.9"_s)} << u"new: 10.0.0.9"_s
        << u"10.0.0.9 (00:20:4a:00:00:01) new at 10.0.0.9, 2026-12-08T09:14:03Z"_s;
    QTest::newRow("a host name's line break and markup stay on one line")
        << R"({"name": "p", )" + ntfy + "}" << QList{change(u"new:a\r\nBcc: x <b>@10.0.0.1"_s)}
        << u"new: a\\x0d\\x0aBcc: x <b>"_s << u"a\\x0d\\x0aBcc: x <b> (00:20:4a:00:00:01) new at 10.0.0.1, 2026-12-08T09:14:03Z"_s;
    QTest::newRow("many changes: the summary, a line each")
        << R"({"name": "p", "line": "- {name}", )" + ntfy + "}"
        << QList{change(u"new:a@10.0.0.1"_s, 1), change(u"missing:b@10.0.0.2"_s, 2), change(u"missing:c@10.0.0.3"_s, 3)}
        << u"2 missing, 1 new at roof"_s << u"- a\n- b\n- c"_s;
    QStringList twenty;
    for (int i = 0; i < 20; ++i)
        twenty.append(u"new: d%1 at 10.0.0.%1"_s.arg(i));
    QTest::newRow("past 20 lines: and N more")
        << R"({"name": "p", )" + ntfy + "}" << manyNew(32) << u"32 new at roof"_s << twenty.join(u'\n') + u"\nand 12 more"_s;
    QTest::newRow("only the events it takes")
        << R"({"name": "p", "events": ["missing"], )" + ntfy + "}"
        << QList{change(u"new:a@10.0.0.1"_s, 1), change(u"missing:b@10.0.0.2"_s, 2)} << u"missing: b"_s
        << u"b (00:20:4a:00:00:02) missing at 10.0.0.2, 2026-12-08T09:14:03Z"_s;
    QTest::newRow("none it takes: no message")
        << R"({"name": "p", "events": ["steady"], )" + ntfy + "}" << QList{change(u"new:a@10.0.0.1"_s)} << QString() << QString();
}

void tst_Destinations::messages()
{
    QFETCH(QByteArray, destination);
    QFETCH(QList<DestinationChange>, changes);
    QFETCH(QString, title);
    const std::optional<DestinationMessage> message = destinationMessage(destinationOf(destination), changes, u"roof"_s);
    QCOMPARE(message.has_value(), !title.isEmpty());
    if (!message)
        return;
    QCOMPARE(message->title, title);
    QTEST(message->text, "text");
}

void tst_Destinations::requests_data()
{
    QTest::addColumn<QByteArray>("destination");
    QTest::addColumn<QList<QByteArray>>("expected");
    QTest::newRow("ntfy: JSON to the root, a missing device at priority 4, the token as Bearer")
        << QByteArray(R"({"name": "p", "kind": "ntfy", "server": "https://push.example/", "topic": {"env": "DF_TEST_TOPIC"},
                       "token": {"env": "DF_TEST_TOKEN"}})")
        << QList<QByteArray>{"url https://push.example/", "header Authorization: Bearer tok-123",
                             R"(body {"message":"a\" (00:20:4a:00:00:01) missing at 10.0.0.1, 2026-12-08T09:14:03Z","priority":4,"tags":["missing"],"title":"missing: a\"","topic":"topic-9"})"};
    QTest::newRow("gotify: server/message, X-Gotify-Key, priority 8")
        << QByteArray(R"({"name": "g", "kind": "gotify", "server": "https://g.example/base", "token": {"env": "DF_TEST_TOKEN"}})")
        << QList<QByteArray>{"url https://g.example/base/message", "header X-Gotify-Key: tok-123", R"("priority":8)"};
    QTest::newRow("webhook: {changes} as JSON, the other variables escaped, Slack's entities")
        << QByteArray(R"({"name": "w", "kind": "webhook", "url": {"env": "DF_TEST_TOPIC"}, "method": "PUT", "escape": "slack",
                       "headers": {"X-Key": {"env": "DF_TEST_TOKEN"}}, "body": "{\"text\": \"{title} <{name}>\", \"c\": {changes}}"})")
        << QList<QByteArray>{"url topic-9", "method PUT", "header X-Key: tok-123", R"(body {"text": "missing: a\" <a\">", "c": [{"address":"10.0.0.1")",
                             R"("hostname":"a\"")"};
    QTest::newRow("webhook: the default object")
        << QByteArray(R"({"name": "w", "kind": "webhook", "url": "https://hook.example/x"})")
        << QList<QByteArray>{R"(body {"changes":[{"address":"10.0.0.1","deviceType":"","event":"missing")", R"("site":"roof","title":"missing: a\""})"};
    QTest::newRow("email: an encoded Subject, CRLF lines")
        << QByteArray(R"({"name": "m", "kind": "email", "server": "smtp://mail.example:587", "from": "df@example.org",
                       "to": ["a@example.org"], "user": "df", "password": {"env": "DF_TEST_TOKEN"}, "title": "Gerät {event}"})")
        << QList<QByteArray>{"url smtp://mail.example:587", "Subject: =?UTF-8?B?R2Vyw6R0IG1pc3Npbmc=?=\r\n", "\r\n\r\na\" (00:20:4a"};
}

void tst_Destinations::requests()
{
    QFETCH(QByteArray, destination);
    qputenv("DF_TEST_TOKEN", "tok-123");
    qputenv("DF_TEST_TOPIC", QTest::currentDataTag()[0] == 'w' ? "https://hook.example/topic-9" : "topic-9");
    const DestinationMessage message = *destinationMessage(destinationOf(destination), {change(u"missing:a\"@10.0.0.1"_s)}, u"roof"_s);
    const Result<OutgoingMessage> out = outgoingMessage(destinationOf(destination), message, u"/nowhere"_s);
    QVERIFY2(out, qPrintable(out.reason()));
    QByteArray seen = "url " + out->url + "\nmethod " + out->method + "\n";
    for (const QByteArray &header : out->headers)
        seen += "header " + header + "\n";
    seen += "body " + out->body;
    QFETCH(QList<QByteArray>, expected);
    for (QByteArray want : expected) {
        want.replace("url topic-9", "url https://hook.example/topic-9");
        QVERIFY2(seen.contains(want), qPrintable(QString::fromUtf8("missing: " + want + "\nin: " + seen)));
    }
}

void tst_Destinations::refusals_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("problem");
    const QByteArray ntfy = R"("kind": "ntfy", "server": "https://push.example", "topic": "t")";
    QTest::newRow("not JSON") << QByteArray("{\n  \"format\": ,") << u"line 2, column 14: not JSON: illegal value"_s;
    QTest::newRow("another format") << QByteArray(R"({"format": "devicefinder-labels", "version": 1})")
                                    << uR"(line 1, column 1: not a destinations file ("format": "devicefinder-destinations"))"_s;
    QTest::newRow("a newer version")
        << QByteArray("{\"format\": \"devicefinder-destinations\",\n \"version\": 2, \"destinations\": []}")
        << u"line 2, column 2: version 2 is newer than this tool reads"_s;
    QTest::newRow("an unknown variable")
        << fileWith("\n {\"name\": \"p\", \"title\": \"{hostnam} gone\", " + ntfy + "}")
        << u"line 2, column 16: \"title\" has the unknown variable {hostnam}"_s;
    QTest::newRow("a name taken twice") << fileWith("{\"name\": \"p\", " + ntfy + "},\n{\"name\": \"p\", " + ntfy + "}")
                                        << u"line 2, column 2: the name p is taken by another destination"_s;
    QTest::newRow("a name with a space") << fileWith("{\"name\": \"my phone\", " + ntfy + "}")
                                         << uR"(line 1, column 73: a name is 1 to 64 letters, digits, "-" and "_")"_s;
    QTest::newRow("an unknown event") << fileWith("{\"name\": \"p\", \"events\": [\"new\", \"gone\"], " + ntfy + "}")
                                      << u"line 1, column 104: no such event: gone"_s;
    QTest::newRow("an unknown kind") << fileWith(R"({"name": "p", "kind": "fax"})")
                                     << uR"(line 1, column 86: "kind" is ntfy, gotify, webhook or email)"_s;
    QTest::newRow("a member of another kind") << fileWith("{\"name\": \"p\", \"to\": [], " + ntfy + "}")
                                              << uR"(line 1, column 86: "to" is not a member of this kind)"_s;
    QTest::newRow("a secret written in the file")
        << fileWith(R"({"name": "g", "kind": "gotify", "server": "https://g.example", "token": "abc"})")
        << uR"(line 1, column 135: a secret is {"file": PATH}, {"env": NAME} or {"credential": NAME})"_s;
    QTest::newRow("a header's line break")
        << fileWith(R"({"name": "w", "kind": "webhook", "url": "https://h.example", "headers": {"X-A": "a\r\nB: c"}})")
        << uR"(line 1, column 145: "X-A" is empty or holds a line break)"_s;
    QTest::newRow("a URL with its user")
        << fileWith(R"({"name": "w", "kind": "webhook", "url": "https://u:pw@h.example/"})")
        << uR"(line 1, column 105: "url" is not an http or https URL without user or fragment)"_s;
    QTest::newRow("e-mail TLS neither starttls nor none")
        << fileWith(R"({"name": "m", "kind": "email", "server": "smtp://m.example:25", "tls": "ssl", "from": "a@b.c", "to": ["d@e.f"]})")
        << uR"(line 1, column 136: "tls" is starttls or none)"_s;
    QTest::newRow("a priority out of range")
        << fileWith("{\"name\": \"p\", \"priority\": 9, " + ntfy + "}")
        << uR"(line 1, column 86: "priority" is a whole number from 1 to 5)"_s;
}

void tst_Destinations::refusals()
{
    QFETCH(QByteArray, file);
    const DestinationsFile read = parseDestinations(file);
    QCOMPARE(read.status, DestinationsFile::Status::Refused);
    QTEST(read.problem, "problem");
    QVERIFY(read.destinations.isEmpty());
}

void tst_Destinations::destinationProblems_data()
{
    QTest::addColumn<QByteArray>("destination");
    QTest::addColumn<QString>("problem");
    QTest::newRow("a token over plain http off this computer")
        << QByteArray(R"({"name": "g", "kind": "gotify", "server": "http://g.example", "token": {"env": "DF_TEST_TOKEN"}})")
        << u"a secret is not sent over plain http to g.example, which is not loopback"_s;
    QTest::newRow("plain http on loopback") << QByteArray(R"({"name": "g", "kind": "gotify", "server": "http://127.0.0.2:8080", "token": {"env": "DF_TEST_TOKEN"}})")
                                            << QString();
    QTest::newRow("e-mail without TLS off this computer")
        << QByteArray(R"({"name": "m", "kind": "email", "server": "smtp://mail.example:25", "tls": "none", "from": "a@b.c", "to": ["d@e.f"]})")
        << u"e-mail without TLS goes only to a server on a loopback address"_s;
    QTest::newRow("a secret file others may read")
        << QByteArray(R"({"name": "g", "kind": "gotify", "server": "https://g.example", "token": {"file": "open"}})")
        << u"the secret file %1/open may be read by others than its owner (chmod 600 it)"_s;
    QTest::newRow("a variable not set")
        << QByteArray(R"({"name": "g", "kind": "gotify", "server": "https://g.example", "token": {"env": "DF_TEST_NOT_SET"}})")
        << u"the environment variable DF_TEST_NOT_SET is not set"_s;
}

void tst_Destinations::destinationProblems()
{
    QFETCH(QByteArray, destination);
    QFETCH(QString, problem);
    QTemporaryDir config;
    QFile open(config.filePath(u"open"_s));
    QVERIFY(open.open(QIODevice::WriteOnly));
    open.write("secret\n");
    open.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    qputenv("DF_TEST_TOKEN", "tok-123");
    QCOMPARE(destinationProblem(destinationOf(destination), config.path()).value_or(QString()), problem.contains(u"%1") ? problem.arg(config.path()) : problem);
}

void tst_Destinations::deliveryRetriesWhatIsWorthIt()
{
    qputenv("DEVICEFINDER_TEST_RETRY_MS", "50");
    StandIn failing({500, 503, 400});
    StandIn fine({200});
    std::mutex mutex;
    QList<DeliveryOutcome> outcomes;
    LogCapture log;
    {
        DeliveryEngine engine([&](const DeliveryOutcome &outcome) {
            const std::lock_guard lock(mutex);
            outcomes.append(outcome);
        });
        OutgoingMessage message;
        message.url = failing.url() + "?key=s3cret";
        message.body = "{}";
        message.secrets = {u"s3cret"_s};
        engine.send(u"hook"_s, u"webhook"_s, 2, message);
        message.url = fine.url();
        engine.send(u"phone"_s, u"ntfy"_s, 1, message);
        QTRY_COMPARE_WITH_TIMEOUT(failing.requests.size(), 3, 10'000);
        QTRY_COMPARE_WITH_TIMEOUT(fine.requests.size(), 1, 10'000);
        QTRY_VERIFY_WITH_TIMEOUT([&] { const std::lock_guard lock(mutex); return outcomes.size() == 4; }(), 10'000);
    }
    qunsetenv("DEVICEFINDER_TEST_RETRY_MS");
    QVERIFY(failing.requests.first().startsWith("POST /hook?key=s3cret HTTP/1.1\r\n"));
    const QStringList lines = log.lines();
    QVERIFY(lines.contains(u"Sent 1 change to phone (ntfy): 200"_s));
    QVERIFY(lines.contains(u"Could not send to hook (webhook): 500 Stand-in /hook?key=***; trying again in 1 s"_s));
    QVERIFY(lines.contains(u"Could not send to hook (webhook): 400 Stand-in /hook?key=***; not tried again"_s));
    QCOMPARE(lines.filter(u"s3cret"_s), QStringList());
}

void tst_Destinations::quittingWaitsBoundedly()
{
    StandIn silent({0});
    LogCapture log;
    QElapsedTimer timer;
    timer.start();
    {
        DeliveryEngine engine;
        OutgoingMessage message;
        message.url = silent.url();
        for (int i = 0; i < 3; ++i)
            engine.send(u"hook"_s, u"webhook"_s, 1, message);
        QTRY_COMPARE(silent.requests.size(), 1);
        QVERIFY(timer.elapsed() < 3000);
        engine.finish(std::chrono::milliseconds(300));
    }
    QVERIFY(timer.elapsed() < 5000);
    QCOMPARE(log.lines(), QStringList{u"3 messages to destinations not sent: quitting"_s});
}

QTEST_GUILESS_MAIN(tst_Destinations)
#include "tst_destinations.moc"
