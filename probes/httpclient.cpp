#include "probes/httpclient.h"

#include "localnet/ipv4text.h"
#include "localnet/networkinterfaces.h"

#include <QHostAddress>

namespace {

bool isDigitsAndDots(const QString &host)
{
    return std::all_of(host.cbegin(), host.cend(), [](QChar c) { return c == u'.' || c.isDigit(); });
}

} // namespace

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

std::optional<IPv4Endpoint> ipv4Endpoint(QByteArrayView url)
{
    constexpr QByteArrayView scheme("http://");
    if (!url.startsWith(scheme))
        return std::nullopt;
    QByteArrayView authority = url.sliced(scheme.size());
    qsizetype end = 0;
    while (end < authority.size() && authority[end] != '/' && authority[end] != '?' && authority[end] != '#')
        ++end;
    authority = authority.first(end);
    IPv4Endpoint endpoint;
    if (const qsizetype colon = authority.indexOf(':'); colon >= 0) {
        const QByteArrayView digits = authority.sliced(colon + 1);
        const bool numeric = !digits.isEmpty() && digits.size() <= 5
                             && std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
        const uint port = numeric ? digits.toUInt() : 0;
        if (port == 0 || port > 65535)
            return std::nullopt;
        endpoint.port = quint16(port);
        authority = authority.first(colon);
    }
    const std::optional<quint32> address = plainIPv4(QString::fromLatin1(authority));
    if (!address)
        return std::nullopt;
    endpoint.address = *address;
    return endpoint;
}

std::optional<QByteArray> probeUrl(const QString &address, const QString &path)
{
    // The address a range scan asks, by the ten thousand, needs no URL parser to be taken as
    // it is written.
    if (plainIPv4(address))
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
