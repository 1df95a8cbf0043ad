#include "destinations/destinationtarget.h"

#include <QHostAddress>
#include <QUrl>

#include <array>

namespace {

QString hostOf(const QString &url)
{
    return QUrl(url).host();
}

// Whether the URL goes in clear to a host off this computer.
bool inClear(const QString &url)
{
    const QUrl read(url);
    return read.scheme() == u"http" && !isLoopbackHost(read.host());
}

} // namespace

QString destinationKindName(const Destination &destination)
{
    static const std::array<QString, 4> names{QStringLiteral("ntfy"), QStringLiteral("gotify"), QStringLiteral("webhook"), QStringLiteral("email")};
    return names.at(destination.kind.index());
}

QString destinationTarget(const Destination &destination)
{
    const auto shown = [](const SecretText &text) { return text.secret ? hiddenSecret.toString() : text.literal; };
    if (const auto *ntfy = std::get_if<NtfyDestination>(&destination.kind))
        return QStringLiteral("%1 topic %2").arg(ntfy->server, shown(ntfy->topic));
    if (const auto *gotify = std::get_if<GotifyDestination>(&destination.kind))
        return gotify->server;
    if (const auto *webhook = std::get_if<WebhookDestination>(&destination.kind))
        return QStringLiteral("%1 %2").arg(webhook->method, shown(webhook->url));
    const auto &email = std::get<EmailDestination>(destination.kind);
    return QStringLiteral("%1 to %2").arg(email.server, email.to.join(QStringLiteral(", ")));
}

std::optional<QString> destinationProblem(const Destination &destination, const QString &configFolder)
{
    QList<SecretRef> secrets;
    QString clearUrl; // a URL that sends in clear off this computer
    if (const auto *ntfy = std::get_if<NtfyDestination>(&destination.kind)) {
        if (ntfy->topic.secret)
            secrets.append(*ntfy->topic.secret);
        if (ntfy->token)
            secrets.append(*ntfy->token);
        clearUrl = inClear(ntfy->server) ? ntfy->server : QString();
    } else if (const auto *gotify = std::get_if<GotifyDestination>(&destination.kind)) {
        secrets.append(gotify->token);
        clearUrl = inClear(gotify->server) ? gotify->server : QString();
    } else if (const auto *webhook = std::get_if<WebhookDestination>(&destination.kind)) {
        QString url = webhook->url.literal;
        if (webhook->url.secret) {
            const SecretValue read = readSecret(*webhook->url.secret, configFolder);
            if (!read.value)
                return read.problem;
            url = *read.value;
            const QUrl parsed(url, QUrl::StrictMode);
            if (!parsed.isValid() || (parsed.scheme() != u"http" && parsed.scheme() != u"https") || parsed.host().isEmpty())
                return QStringLiteral("its secret URL is not an http or https URL");
            if (inClear(url))
                return QStringLiteral("its secret URL is not sent over plain http to a host that is not loopback");
        }
        for (const auto &header : webhook->headers) {
            if (header.second.secret)
                secrets.append(*header.second.secret);
        }
        clearUrl = inClear(url) ? url : QString();
    } else {
        const auto &email = std::get<EmailDestination>(destination.kind);
        if (email.password)
            secrets.append(*email.password);
        if (email.tls == EmailDestination::Tls::None && !isLoopbackHost(hostOf(email.server)))
            return QStringLiteral("e-mail without TLS goes only to a server on a loopback address");
    }
    if (!secrets.isEmpty() && !clearUrl.isEmpty())
        return QStringLiteral("a secret is not sent over plain http to %1, which is not loopback").arg(hostOf(clearUrl));
    for (const SecretRef &secret : secrets) {
        if (const SecretValue read = readSecret(secret, configFolder); !read.value)
            return read.problem;
    }
    return std::nullopt;
}

bool isLoopbackHost(const QString &host)
{
    if (host.compare(u"localhost", Qt::CaseInsensitive) == 0)
        return true;
    QHostAddress address;
    return address.setAddress(host) && address.isLoopback();
}
