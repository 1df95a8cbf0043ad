#include "probes/httpclient.h"

#include "probes/networkloop.h"

#include <QHostAddress>

namespace {

bool isDigitsAndDots(const QString &host)
{
    return std::all_of(host.cbegin(), host.cend(), [](QChar c) { return c == u'.' || c.isDigit(); });
}

// Four numbers of 0 to 255 without leading zeros: the address a range scan asks, by the
// ten thousand, which needs no URL parser to be taken as it is written.
bool isPlainIPv4(QStringView text)
{
    int parts = 0;
    for (QStringView part : text.tokenize(u'.')) {
        const bool digits = !part.isEmpty() && part.size() <= 3
                            && std::all_of(part.cbegin(), part.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; });
        if (!digits || (part.size() > 1 && part.front() == u'0') || part.toInt() > 255 || ++parts > 4)
            return false;
    }
    return parts == 4;
}

} // namespace

void httpGet(QByteArray url, std::unique_ptr<HttpHandler> handler, std::stop_token stop)
{
    NetworkLoop::instance().start(std::make_unique<HttpRequest>(std::move(url), std::move(handler), std::move(stop)));
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

std::optional<QByteArray> probeUrl(const QString &address, const QString &path)
{
    if (isPlainIPv4(address))
        return (QStringLiteral("http://") + address + path).toLatin1();
    std::optional<QUrl> url = exactHttpUrl(QStringLiteral("http://") + address + path);
    // Only the host that the address text names, with its port if any: no user information,
    // no path of its own, no other host.
    if (!url || !url->userInfo().isEmpty() || url->path() != path || url->hasQuery() || url->hasFragment())
        return std::nullopt;
    const QString authority = url->port() < 0 ? url->host() : url->host() + u':' + QString::number(url->port());
    if (authority.compare(address, Qt::CaseInsensitive) != 0)
        return std::nullopt;
    return url->toEncoded();
}
