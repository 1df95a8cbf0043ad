#include "probes/httpclient.h"

#include "probes/networkloop.h"

#include <QHostAddress>

namespace {

bool isDigitsAndDots(const QString &host)
{
    return std::all_of(host.cbegin(), host.cend(), [](QChar c) { return c == u'.' || c.isDigit(); });
}

} // namespace

void httpGet(const QString &urlText, std::unique_ptr<HttpHandler> handler, std::stop_token stop)
{
    NetworkLoop::instance().start(
        std::make_unique<HttpRequest>(exactHttpUrl(urlText).value_or(QUrl()), std::move(handler), std::move(stop)));
}

std::optional<QUrl> exactHttpUrl(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != u"http" || url.host().isEmpty())
        return std::nullopt;
    if (url.toString(QUrl::FullyEncoded).compare(text, Qt::CaseInsensitive) != 0)
        return std::nullopt;
    // A host of digits and dots is an IPv4 address or nothing: "192.168.1.260" is no name
    // to look up.
    if (isDigitsAndDots(url.host()) && QHostAddress(url.host()).protocol() != QAbstractSocket::IPv4Protocol)
        return std::nullopt;
    return url;
}

std::optional<QUrl> probeUrl(const QString &address, const QString &path)
{
    std::optional<QUrl> url = exactHttpUrl(QStringLiteral("http://") + address + path);
    // Only the host that the address text names, with its port if any: no user information,
    // no path of its own, no other host.
    if (!url || !url->userInfo().isEmpty() || url->path() != path || url->hasQuery() || url->hasFragment())
        return std::nullopt;
    const QString authority = url->port() < 0 ? url->host() : url->host() + u':' + QString::number(url->port());
    if (authority.compare(address, Qt::CaseInsensitive) != 0)
        return std::nullopt;
    return url;
}
