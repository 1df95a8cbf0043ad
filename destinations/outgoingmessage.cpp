#include "destinations/outgoingmessage.h"

#include "destinations/destinationsfile.h"
#include "destinations/messagetemplate.h"
#include "platform/safejson.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QLocale>
#include <QUrl>
#include <QUuid>

namespace {

// Reads secrets, keeping each value to hide it later; the first that fails is the problem.
class Secrets final {
public:
    explicit Secrets(QString folder) : m_folder(std::move(folder)) {}
    QString problem;
    QStringList values;

    QString value(const SecretRef &secret)
    {
        const SecretValue read = readSecret(secret, m_folder);
        if (!read.value) {
            if (problem.isEmpty())
                problem = read.problem;
            return {};
        }
        if (!read.value->isEmpty())
            values.append(*read.value);
        return *read.value;
    }
    QString value(const SecretText &text) { return text.secret ? value(*text.secret) : text.literal; }

private:
    QString m_folder;
};

QByteArray json(const QJsonObject &object)
{
    return safeJson(QJsonDocument(object), QJsonDocument::Compact);
}

QJsonArray tags(const DestinationMessage &message)
{
    QJsonArray names;
    for (const DestinationChange &change : message.changes) {
        const QString name = QString::fromLatin1(watchEventName(change.event.kind));
        if (!names.contains(name))
            names.append(name);
    }
    return names;
}

QByteArray baseUrl(const QString &server)
{
    QByteArray url = QUrl(server).toEncoded();
    if (!url.endsWith('/'))
        url += '/';
    return url;
}

// A variable's text inside a JSON string of the user's body: escaped as JSON escapes it,
// without the quotes around it; for a Slack-shaped body its &, < and > as Slack's entities.
QString jsonInner(QString text, WebhookDestination::Escape escape)
{
    if (escape == WebhookDestination::Escape::Slack)
        text.replace(u'&', QStringLiteral("&amp;")).replace(u'<', QStringLiteral("&lt;")).replace(u'>', QStringLiteral("&gt;"));
    const QByteArray quoted = safeJsonValue(text);
    return QString::fromUtf8(quoted.mid(1, quoted.size() - 2));
}

QByteArray webhookBody(const WebhookDestination &webhook, const DestinationMessage &message)
{
    if (webhook.body.isEmpty()) {
        QJsonObject object{{QStringLiteral("site"), message.site}, {QStringLiteral("title"), message.title}};
        object.insert(QStringLiteral("changes"), QJsonDocument::fromJson(changesJson(message)).array());
        return json(object);
    }
    return expandTemplate(webhook.body, [&](QStringView name) {
               if (name == u"changes")
                   return QString::fromUtf8(changesJson(message));
               if (name == u"title")
                   return jsonInner(message.title, webhook.escape);
               if (name == u"message")
                   return jsonInner(message.text, webhook.escape);
               return jsonInner(changeVariable(message.changes.first(), message.site, name), webhook.escape);
           })
        .toUtf8();
}

QByteArray emailBody(const EmailDestination &email, const DestinationMessage &message, const QDateTime &now)
{
    QByteArray mail;
    mail += "Date: " + QLocale::c().toString(now.toUTC(), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss +0000")).toLatin1() + "\r\n";
    mail += "From: " + email.from.toUtf8() + "\r\n";
    mail += "To: " + email.to.join(QStringLiteral(", ")).toUtf8() + "\r\n";
    mail += "Subject: " + encodedSubject(message.title) + "\r\n";
    mail += "Message-ID: <" + QUuid::createUuid().toByteArray(QUuid::WithoutBraces) + "@devicefinder>\r\n";
    mail += "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n";
    // Line ends as SMTP wants them; a lone "." is stuffed by the transfer itself.
    for (const QString &line : message.text.split(u'\n'))
        mail += line.toUtf8() + "\r\n";
    return mail;
}

} // namespace

QByteArray changesJson(const DestinationMessage &message)
{
    QJsonArray changes;
    for (const DestinationChange &change : message.changes) {
        const DeviceRecord &record = *change.event.device;
        QJsonObject object{
            {QStringLiteral("event"), QString::fromLatin1(watchEventName(change.event.kind))},
            {QStringLiteral("macAddress"), deviceMac(record).value_or(QString())},
            {QStringLiteral("address"), deviceAddress(record)},
            {QStringLiteral("hostname"), record.text(DeviceKey::hostname)},
            {QStringLiteral("label"), change.label},
            {QStringLiteral("deviceType"), record.text(DeviceKey::deviceType)},
            {QStringLiteral("serialNumber"), record.text(DeviceKey::serialNumber)},
            {QStringLiteral("tag"), record.text(DeviceKey::tag)},
            {QStringLiteral("time"), change.time.toUTC().toString(Qt::ISODate)},
            {QStringLiteral("since"), (change.since.isValid() ? change.since : change.time).toUTC().toString(Qt::ISODate)},
        };
        changes.append(object);
    }
    return safeJson(QJsonDocument(changes), QJsonDocument::Compact);
}

QByteArray encodedSubject(const QString &subject)
{
    QString flat = subject;
    for (QChar &c : flat) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = u' ';
    }
    const QByteArray utf8 = flat.toUtf8();
    const bool plain = std::all_of(utf8.begin(), utf8.end(), [](char c) { return c >= 0x20 && c < 0x7f; })
                       && !utf8.contains("=?") && utf8.size() <= 900;
    if (plain)
        return utf8;
    // Encoded words of at most 75 characters, each whole characters of UTF-8, folded.
    QByteArray encoded;
    QByteArray chunk;
    const auto flush = [&] {
        if (chunk.isEmpty())
            return;
        if (!encoded.isEmpty())
            encoded += "\r\n ";
        encoded += "=?UTF-8?B?" + chunk.toBase64() + "?=";
        chunk.clear();
    };
    for (qsizetype i = 0; i < utf8.size();) {
        qsizetype length = 1;
        while (i + length < utf8.size() && (uchar(utf8.at(i + length)) & 0xc0) == 0x80)
            ++length;
        if (chunk.size() + length > 45)
            flush();
        chunk += utf8.mid(i, length);
        i += length;
    }
    flush();
    return encoded;
}

QString hideSecrets(QString text, const QStringList &secrets)
{
    for (const QString &secret : secrets) {
        text.replace(secret, hiddenSecret.toString());
        // A URL's secret is repeated encoded, too.
        text.replace(QString::fromLatin1(QUrl::toPercentEncoding(secret)), hiddenSecret.toString());
    }
    return text;
}

Result<OutgoingMessage> outgoingMessage(const Destination &destination, const DestinationMessage &message,
                                  const QString &configFolder, const QDateTime &now)
{
    Secrets secrets(configFolder);
    OutgoingMessage out;
    out.caFile = destination.caFile;
    if (!out.caFile.isEmpty() && !QDir::isAbsolutePath(out.caFile))
        out.caFile = QDir(configFolder).filePath(out.caFile);
    if (const auto *ntfy = std::get_if<NtfyDestination>(&destination.kind)) {
        out.url = baseUrl(ntfy->server);
        out.headers.append("Content-Type: application/json");
        if (ntfy->token)
            out.headers.append("Authorization: Bearer " + secrets.value(*ntfy->token).toUtf8());
        out.body = json({{QStringLiteral("topic"), secrets.value(ntfy->topic)},
                         {QStringLiteral("title"), message.title},
                         {QStringLiteral("message"), message.text},
                         {QStringLiteral("priority"), ntfy->priority.value_or(message.missing ? 4 : 3)},
                         {QStringLiteral("tags"), tags(message)}});
    } else if (const auto *gotify = std::get_if<GotifyDestination>(&destination.kind)) {
        out.url = baseUrl(gotify->server) + "message";
        out.headers.append("Content-Type: application/json");
        out.headers.append("X-Gotify-Key: " + secrets.value(gotify->token).toUtf8());
        out.body = json({{QStringLiteral("title"), message.title},
                         {QStringLiteral("message"), message.text},
                         {QStringLiteral("priority"), gotify->priority.value_or(message.missing ? 8 : 5)}});
    } else if (const auto *webhook = std::get_if<WebhookDestination>(&destination.kind)) {
        out.url = QUrl(secrets.value(webhook->url)).toEncoded();
        out.method = webhook->method.toLatin1();
        out.headers.append("Content-Type: " + webhook->contentType.toUtf8());
        for (const auto &[name, value] : webhook->headers)
            out.headers.append(name.toLatin1() + ": " + secrets.value(value).toUtf8());
        out.body = webhookBody(*webhook, message);
    } else {
        const auto &email = std::get<EmailDestination>(destination.kind);
        out.protocol = OutgoingMessage::Protocol::Smtp;
        out.url = QUrl(email.server).toEncoded();
        out.requireTls = email.tls == EmailDestination::Tls::StartTls;
        out.from = email.from.toUtf8();
        for (const QString &to : email.to)
            out.recipients.append(to.toUtf8());
        out.user = email.user.toUtf8();
        if (email.password)
            out.password = secrets.value(*email.password).toUtf8();
        out.body = emailBody(email, message, now);
    }
    for (const QByteArray &header : std::as_const(out.headers)) {
        if (header.contains('\r') || header.contains('\n'))
            secrets.problem = QStringLiteral("a header's secret holds a line break");
    }
    if (!secrets.problem.isEmpty())
        return Failure{secrets.problem};
    out.secrets = secrets.values;
    return out;
}
