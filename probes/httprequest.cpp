#include "probes/httprequest.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {

// Qt reports HTTP statuses such as 404 or 500 as errors of these two ranges; the response
// is there all the same. Every other error left no usable response.
bool isHttpStatusError(QNetworkReply::NetworkError error)
{
    return error == QNetworkReply::NoError
           || (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError)
           || (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError);
}

int port(const QUrl &url)
{
    return url.port(80);
}

} // namespace

HttpRequest::HttpRequest(QNetworkAccessManager &manager, const QUrl &url, std::unique_ptr<HttpHandler> handler)
    : QObject(&manager), m_url(url), m_handler(std::move(handler))
{
    QNetworkRequest request(url);
    request.setRawHeader("Accept", "application/json");
    request.setRawHeader("Content-Type", "application/json");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    // A scan asks each address once: a connection kept for later (Qt keeps one per host for
    // two minutes, with its sockets) only piles up, some 10 KB an address over a /16.
    request.setAttribute(QNetworkRequest::ConnectionCacheExpiryTimeoutSecondsAttribute, 0);

    m_reply = manager.get(request);
    m_reply->setParent(this);
    // Read as it comes, so Qt's own buffer stays small too.
    m_reply->setReadBufferSize(64 * 1024);
    connect(m_reply, &QNetworkReply::readyRead, this, &HttpRequest::readBody);
    connect(m_reply, &QNetworkReply::redirected, this, &HttpRequest::redirected);
    connect(m_reply, &QNetworkReply::finished, this, &HttpRequest::finish);

    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &HttpRequest::giveUp);
    m_deadline.start(HttpLimits::totalTimeout);
}

void HttpRequest::readBody()
{
    if (m_tooLarge || m_givenUp)
        return;
    m_status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const qint64 room = HttpLimits::maxBodyBytes - m_body.size();
    if (m_reply->bytesAvailable() > room) {
        m_tooLarge = true;
        m_body.clear();
        m_body.squeeze();
        m_reply->abort(); // finishes the reply
        return;
    }
    m_body += m_reply->readAll();
}

void HttpRequest::redirected(const QUrl &target)
{
    // A device may move its document on itself, never send the tool to another host.
    if (target.scheme() == m_url.scheme() && target.host().compare(m_url.host(), Qt::CaseInsensitive) == 0
        && port(target) == port(m_url)) {
        emit m_reply->redirectAllowed();
        return;
    }
    giveUp();
}

void HttpRequest::giveUp()
{
    m_givenUp = true;
    m_reply->abort();
}

void HttpRequest::finish()
{
    if (!m_handler)
        return;
    HttpResult result;
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (m_tooLarge) {
        result.responded = true;
        result.status = m_status;
    } else if (!m_givenUp && status > 0 && isHttpStatusError(m_reply->error())) {
        result.responded = true;
        result.status = status;
        const QByteArray rest = m_reply->readAll();
        if (m_body.size() + rest.size() <= HttpLimits::maxBodyBytes)
            result.body = m_body + rest;
    }
    m_deadline.stop();
    const std::unique_ptr<HttpHandler> handler = std::move(m_handler);
    deleteLater();
    handler->finished(std::move(result));
}
