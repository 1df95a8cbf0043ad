#include "destinations/destinationsfile.h"

#include "destinations/jsonlocation.h"
#include "destinations/messagetemplate.h"
#include "platform/boundedjson.h"
#include "platform/toolfiles.h"
#include "platform/versioneddocument.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>

#include <array>

namespace {

constexpr QStringView format = u"devicefinder-destinations";

using Path = QList<JsonStep>;

struct Refusal {
    Path path;
    QString reason;
};

// Reads one destination's members; the first rule broken is kept, and the rest not read.
class Reader final {
public:
    std::optional<Refusal> refusal;

    bool refuse(const Path &path, const QString &reason)
    {
        if (!refusal)
            refusal = Refusal{path, reason};
        return false;
    }

    bool text(const QJsonObject &object, const Path &at, const QString &key, QString &into, bool required)
    {
        const QJsonValue value = object.value(key);
        if (value.isUndefined())
            return !required || refuse(at, QStringLiteral("\"%1\" is missing").arg(key));
        if (!value.isString())
            return refuse(at + Path{key}, QStringLiteral("\"%1\" is not a text").arg(key));
        into = value.toString();
        if (into.contains(u'\r') || into.contains(u'\n') || into.contains(QChar(0)))
            return refuse(at + Path{key}, QStringLiteral("\"%1\" holds a line break").arg(key));
        if (required && into.isEmpty())
            return refuse(at + Path{key}, QStringLiteral("\"%1\" is empty").arg(key));
        return true;
    }

    bool templateText(const QJsonObject &object, const Path &at, const QString &key, QString &into,
                      const QList<QStringView> &known)
    {
        const QJsonValue value = object.value(key);
        if (value.isUndefined())
            return true;
        if (!value.isString())
            return refuse(at + Path{key}, QStringLiteral("\"%1\" is not a text").arg(key));
        into = value.toString();
        if (const std::optional<QString> unknown = unknownVariable(into, known))
            return refuse(at + Path{key}, QStringLiteral("\"%1\" has the unknown variable {%2}").arg(key, *unknown));
        return true;
    }

    bool secret(const QJsonValue &value, const Path &at, SecretRef &into)
    {
        const QJsonObject object = value.toObject();
        if (!value.isObject() || object.size() != 1)
            return refuse(at, QStringLiteral("a secret is {\"file\": PATH}, {\"env\": NAME} or {\"credential\": NAME}"));
        static const std::array<std::pair<QStringView, SecretRef::Kind>, 3> kinds{{
            {u"file", SecretRef::Kind::File}, {u"env", SecretRef::Kind::Env}, {u"credential", SecretRef::Kind::Credential}}};
        for (const auto &[key, kind] : kinds) {
            if (!object.contains(key))
                continue;
            const QString name = object.value(key).toString();
            if (name.isEmpty() || name.contains(QChar(0)))
                return refuse(at + Path{key.toString()}, QStringLiteral("the secret's \"%1\" is not a text").arg(key));
            into = {kind, name};
            return true;
        }
        return refuse(at, QStringLiteral("a secret is {\"file\": PATH}, {\"env\": NAME} or {\"credential\": NAME}"));
    }

    bool optionalSecret(const QJsonObject &object, const Path &at, const QString &key, std::optional<SecretRef> &into)
    {
        if (!object.contains(key))
            return true;
        SecretRef read;
        if (!secret(object.value(key), at + Path{key}, read))
            return false;
        into = read;
        return true;
    }

    // A text given as it is, or a secret.
    bool secretText(const QJsonValue &value, const Path &at, const QString &key, SecretText &into)
    {
        if (value.isString()) {
            into.literal = value.toString();
            if (into.literal.isEmpty() || into.literal.contains(u'\r') || into.literal.contains(u'\n'))
                return refuse(at, QStringLiteral("\"%1\" is empty or holds a line break").arg(key));
            return true;
        }
        SecretRef read;
        if (!secret(value, at, read))
            return false;
        into.secret = read;
        return true;
    }

    bool integer(const QJsonObject &object, const Path &at, const QString &key, int low, int high, std::optional<int> &into)
    {
        const QJsonValue value = object.value(key);
        if (value.isUndefined())
            return true;
        const double number = value.toDouble(-1);
        if (!value.isDouble() || number != double(int(number)) || number < low || number > high)
            return refuse(at + Path{key}, QStringLiteral("\"%1\" is a whole number from %2 to %3").arg(key).arg(low).arg(high));
        into = int(number);
        return true;
    }

    bool webUrl(const QString &text, const Path &at, const QString &key)
    {
        const QUrl url(text, QUrl::StrictMode);
        if (!url.isValid() || (url.scheme() != u"http" && url.scheme() != u"https") || url.host().isEmpty()
            || !url.userInfo().isEmpty() || url.hasFragment())
            return refuse(at, QStringLiteral("\"%1\" is not an http or https URL without user or fragment").arg(key));
        return true;
    }

    bool onlyMembers(const QJsonObject &object, const Path &at, QStringList allowed)
    {
        allowed << QStringLiteral("name") << QStringLiteral("kind") << QStringLiteral("enabled") << QStringLiteral("events")
                << QStringLiteral("title") << QStringLiteral("body") << QStringLiteral("line") << QStringLiteral("caFile");
        for (auto member = object.begin(); member != object.end(); ++member) {
            if (!allowed.contains(member.key()))
                return refuse(at + Path{member.key()}, QStringLiteral("\"%1\" is not a member of this kind").arg(member.key()));
        }
        return true;
    }

    bool ntfy(const QJsonObject &object, const Path &at, NtfyDestination &into)
    {
        return onlyMembers(object, at, {QStringLiteral("server"), QStringLiteral("topic"), QStringLiteral("token"), QStringLiteral("priority")})
               && text(object, at, QStringLiteral("server"), into.server, true) && webUrl(into.server, at + Path{QStringLiteral("server")}, QStringLiteral("server"))
               && (object.contains(u"topic") ? secretText(object.value(u"topic"), at + Path{QStringLiteral("topic")}, QStringLiteral("topic"), into.topic)
                                             : refuse(at, QStringLiteral("\"topic\" is missing")))
               && (!into.topic.literal.contains(u'/') || refuse(at + Path{QStringLiteral("topic")}, QStringLiteral("a topic holds no \"/\"")))
               && optionalSecret(object, at, QStringLiteral("token"), into.token)
               && integer(object, at, QStringLiteral("priority"), 1, 5, into.priority);
    }

    bool gotify(const QJsonObject &object, const Path &at, GotifyDestination &into)
    {
        return onlyMembers(object, at, {QStringLiteral("server"), QStringLiteral("token"), QStringLiteral("priority")})
               && text(object, at, QStringLiteral("server"), into.server, true) && webUrl(into.server, at + Path{QStringLiteral("server")}, QStringLiteral("server"))
               && (object.contains(u"token") ? secret(object.value(u"token"), at + Path{QStringLiteral("token")}, into.token)
                                             : refuse(at, QStringLiteral("\"token\" is missing")))
               && integer(object, at, QStringLiteral("priority"), 0, 10, into.priority);
    }

    bool webhook(const QJsonObject &object, const Path &at, WebhookDestination &into)
    {
        if (!onlyMembers(object, at, {QStringLiteral("url"), QStringLiteral("method"), QStringLiteral("headers"),
                                      QStringLiteral("contentType"), QStringLiteral("escape")}))
            return false;
        if (!object.contains(u"url"))
            return refuse(at, QStringLiteral("\"url\" is missing"));
        const Path urlAt = at + Path{QStringLiteral("url")};
        if (!secretText(object.value(u"url"), urlAt, QStringLiteral("url"), into.url)
            || (!into.url.secret && !webUrl(into.url.literal, urlAt, QStringLiteral("url"))))
            return false;
        if (!text(object, at, QStringLiteral("method"), into.method, false))
            return false;
        if (into.method != u"POST" && into.method != u"PUT")
            return refuse(at + Path{QStringLiteral("method")}, QStringLiteral("\"method\" is POST or PUT"));
        if (!text(object, at, QStringLiteral("contentType"), into.contentType, false) || !templateText(object, at, QStringLiteral("body"), into.body, webhookVariables()))
            return false;
        QString escape = QStringLiteral("json");
        if (!text(object, at, QStringLiteral("escape"), escape, false))
            return false;
        if (escape != u"json" && escape != u"slack")
            return refuse(at + Path{QStringLiteral("escape")}, QStringLiteral("\"escape\" is json or slack"));
        into.escape = escape == u"slack" ? WebhookDestination::Escape::Slack : WebhookDestination::Escape::Json;
        const QJsonValue headers = object.value(u"headers");
        if (headers.isUndefined())
            return true;
        if (!headers.isObject())
            return refuse(at + Path{QStringLiteral("headers")}, QStringLiteral("\"headers\" is an object of names and values"));
        static const QRegularExpression token(QStringLiteral("^[A-Za-z0-9!#$%&'*+.^_`|~-]+$"));
        const QJsonObject members = headers.toObject();
        for (auto header = members.begin(); header != members.end(); ++header) {
            const Path headerAt = at + Path{QStringLiteral("headers"), header.key()};
            if (!token.match(header.key()).hasMatch() || header.key().compare(u"content-length", Qt::CaseInsensitive) == 0
                || header.key().compare(u"host", Qt::CaseInsensitive) == 0)
                return refuse(headerAt, QStringLiteral("\"%1\" is not a header this tool may send").arg(header.key()));
            SecretText value;
            if (!secretText(header.value(), headerAt, header.key(), value))
                return false;
            into.headers.append({header.key(), value});
        }
        return true;
    }

    bool mailbox(const QString &address, const Path &at, const QString &key)
    {
        static const QRegularExpression plain(QStringLiteral("^[^\\s<>@,;:\"()\\[\\]\\\\]+@[^\\s<>@,;:\"()\\[\\]\\\\]+$"));
        return plain.match(address).hasMatch() || refuse(at, QStringLiteral("\"%1\" is not a plain e-mail address").arg(key));
    }

    bool email(const QJsonObject &object, const Path &at, EmailDestination &into)
    {
        if (!onlyMembers(object, at, {QStringLiteral("server"), QStringLiteral("tls"), QStringLiteral("from"), QStringLiteral("to"),
                                      QStringLiteral("user"), QStringLiteral("password")})
            || !text(object, at, QStringLiteral("server"), into.server, true))
            return false;
        const QUrl server(into.server, QUrl::StrictMode);
        if (!server.isValid() || (server.scheme() != u"smtp" && server.scheme() != u"smtps") || server.host().isEmpty()
            || !server.userInfo().isEmpty() || (!server.path().isEmpty() && server.path() != u"/"))
            return refuse(at + Path{QStringLiteral("server")}, QStringLiteral("\"server\" is smtp://host:port or smtps://host:port"));
        QString tls = QStringLiteral("starttls");
        if (!text(object, at, QStringLiteral("tls"), tls, false))
            return false;
        if (tls != u"starttls" && tls != u"none")
            return refuse(at + Path{QStringLiteral("tls")}, QStringLiteral("\"tls\" is starttls or none"));
        into.tls = tls == u"none" ? EmailDestination::Tls::None : EmailDestination::Tls::StartTls;
        if (into.tls == EmailDestination::Tls::None && server.scheme() == u"smtps")
            return refuse(at + Path{QStringLiteral("tls")}, QStringLiteral("smtps is always TLS"));
        if (!text(object, at, QStringLiteral("from"), into.from, true) || !mailbox(into.from, at + Path{QStringLiteral("from")}, QStringLiteral("from")))
            return false;
        const QJsonArray to = object.value(u"to").toArray();
        if (to.isEmpty())
            return refuse(at + Path{QStringLiteral("to")}, QStringLiteral("\"to\" is a list of one or more addresses"));
        for (qsizetype i = 0; i < to.size(); ++i) {
            into.to.append(to.at(i).toString());
            if (!mailbox(into.to.last(), at + Path{QStringLiteral("to"), i}, QStringLiteral("to")))
                return false;
        }
        return text(object, at, QStringLiteral("user"), into.user, false) && optionalSecret(object, at, QStringLiteral("password"), into.password);
    }

    std::optional<Destination> destination(const QJsonValue &value, const Path &at)
    {
        if (!value.isObject()) {
            refuse(at, QStringLiteral("a destination is an object"));
            return std::nullopt;
        }
        const QJsonObject object = value.toObject();
        Destination read;
        static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
        if (!text(object, at, QStringLiteral("name"), read.name, true))
            return std::nullopt;
        if (!name.match(read.name).hasMatch()) {
            refuse(at + Path{QStringLiteral("name")}, QStringLiteral("a name is 1 to 64 letters, digits, \"-\" and \"_\""));
            return std::nullopt;
        }
        const QJsonValue enabled = object.value(u"enabled");
        if (!enabled.isUndefined() && !enabled.isBool()) {
            refuse(at + Path{QStringLiteral("enabled")}, QStringLiteral("\"enabled\" is true or false"));
            return std::nullopt;
        }
        read.enabled = enabled.toBool(true);
        if (!events(object, at, read.events) || !templateText(object, at, QStringLiteral("title"), read.title, changeVariables())
            || !templateText(object, at, QStringLiteral("line"), read.line, changeVariables())
            || !text(object, at, QStringLiteral("caFile"), read.caFile, false))
            return std::nullopt;
        QString kind;
        if (!text(object, at, QStringLiteral("kind"), kind, true))
            return std::nullopt;
        bool sound = false;
        if (kind == u"ntfy") {
            sound = ntfy(object, at, read.kind.emplace<NtfyDestination>());
        } else if (kind == u"gotify") {
            sound = gotify(object, at, read.kind.emplace<GotifyDestination>());
        } else if (kind == u"webhook") {
            sound = webhook(object, at, read.kind.emplace<WebhookDestination>());
        } else if (kind == u"email") {
            sound = email(object, at, read.kind.emplace<EmailDestination>());
        } else {
            refuse(at + Path{QStringLiteral("kind")}, QStringLiteral("\"kind\" is ntfy, gotify, webhook or email"));
        }
        if (sound && kind != u"webhook")
            sound = templateText(object, at, QStringLiteral("body"), read.body, changeVariables());
        return sound ? std::optional(read) : std::nullopt;
    }

    bool events(const QJsonObject &object, const Path &at, QList<WatchEvent::Kind> &into)
    {
        constexpr std::array<WatchEvent::Kind, 6> kinds{WatchEvent::Kind::New, WatchEvent::Kind::Missing, WatchEvent::Kind::Back,
                                                        WatchEvent::Kind::Moved, WatchEvent::Kind::Flapping, WatchEvent::Kind::Steady};
        const QJsonValue value = object.value(u"events");
        if (value.isUndefined()) {
            into = {kinds.begin(), kinds.end() - 1};
            return true;
        }
        const QJsonArray list = value.toArray();
        if (!value.isArray() || list.isEmpty())
            return refuse(at + Path{QStringLiteral("events")}, QStringLiteral("\"events\" is a list of new, missing, back, moved, flapping and steady"));
        for (qsizetype i = 0; i < list.size(); ++i) {
            const auto kind = std::find_if(kinds.begin(), kinds.end(), [&](WatchEvent::Kind k) {
                return list.at(i).toString() == QLatin1StringView(watchEventName(k));
            });
            if (kind == kinds.end())
                return refuse(at + Path{QStringLiteral("events"), i}, QStringLiteral("no such event: %1").arg(list.at(i).toString()));
            if (!into.contains(*kind))
                into.append(*kind);
        }
        return true;
    }
};

DestinationsFile refused(const QByteArray &bytes, qsizetype offset, const QString &reason)
{
    const TextPosition at = textPosition(bytes, offset);
    return {DestinationsFile::Status::Refused, {}, QStringLiteral("line %1, column %2: %3").arg(at.line).arg(at.column).arg(reason)};
}

} // namespace

QString destinationsConfigFolder()
{
    return QFileInfo(destinationsFilePath()).absolutePath();
}

QString destinationsFilePath()
{
    return configFile(QStringLiteral("destinations.json"));
}

DestinationsFile parseDestinations(const QByteArray &bytes)
{
    if (const std::optional<QString> tooLarge = jsonSizeProblem(bytes))
        return refused(bytes, 0, *tooLarge);
    QJsonParseError error{};
    QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        return refused(bytes, error.offset, QStringLiteral("not JSON: %1").arg(error.errorString()));
    const VersionedDocument document = readVersionedDocument(bytes, format, 1);
    switch (document.kind) {
    case VersionedDocument::Kind::Document:
        break;
    case VersionedDocument::Kind::Newer:
        return refused(bytes, jsonOffset(bytes, {QStringLiteral("version")}),
                       QStringLiteral("version %1 is newer than this tool reads").arg(document.version));
    case VersionedDocument::Kind::NoVersion:
        return refused(bytes, jsonOffset(bytes, {QStringLiteral("version")}), QStringLiteral("no version"));
    case VersionedDocument::Kind::Unparsed:
    case VersionedDocument::Kind::Foreign:
        return refused(bytes, 0, QStringLiteral("not a destinations file (\"format\": \"devicefinder-destinations\")"));
    }
    const QJsonValue list = document.root.value(u"destinations");
    if (!list.isArray())
        return refused(bytes, jsonOffset(bytes, {QStringLiteral("destinations")}), QStringLiteral("\"destinations\" is not a list"));
    DestinationsFile file{DestinationsFile::Status::Read, {}, {}};
    QSet<QString> names;
    Reader reader;
    const QJsonArray destinations = list.toArray();
    for (qsizetype i = 0; i < destinations.size(); ++i) {
        const Path at{QStringLiteral("destinations"), i};
        std::optional<Destination> read = reader.destination(destinations.at(i), at);
        if (read && names.contains(read->name))
            reader.refuse(at + Path{QStringLiteral("name")}, QStringLiteral("the name %1 is taken by another destination").arg(read->name));
        if (reader.refusal)
            return refused(bytes, jsonOffset(bytes, reader.refusal->path), reader.refusal->reason);
        names.insert(read->name);
        file.destinations.append(*std::move(read));
    }
    return file;
}

DestinationsFile readDestinationsFile(const QString &path)
{
    FileBytes read = readBoundedFile(path, true);
    switch (read.status) {
    case FileBytes::Status::Read:
        return parseDestinations(read.bytes);
    case FileBytes::Status::Missing:
        return {};
    case FileBytes::Status::TooLarge:
        return {DestinationsFile::Status::Refused, {}, QStringLiteral("line 1, column 1: larger than 16 MiB")};
    case FileBytes::Status::Unreadable:
        break;
    }
    return {DestinationsFile::Status::Unreadable, {}, read.problem};
}
