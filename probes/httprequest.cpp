#include "probes/httprequest.h"

#include "probes/networkloop.h"

#include <curl/curl.h>
#include <cerrno>
#include <sys/socket.h>

namespace {

// Qt and browsers follow this many; a device never needs more.
constexpr int maxRedirects = 50;

int port(const QUrl &url)
{
    return url.port(80);
}

bool isRedirect(long status)
{
    return status == 301 || status == 302 || status == 303 || status == 305 || status == 307 || status == 308;
}

// Sockets that a child started by "Open" would otherwise inherit.
curl_socket_t openSocket(void *, curlsocktype, curl_sockaddr *address)
{
    return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

curl_slist *jsonHeaders()
{
    static curl_slist *const headers = [] {
        curl_slist *list = curl_slist_append(nullptr, "Accept: application/json");
        return curl_slist_append(list, "Content-Type: application/json");
    }();
    return headers;
}

} // namespace

HttpRequest::HttpRequest(QByteArray url, std::unique_ptr<HttpHandler> handler, std::stop_token stop)
    // Kept as the bytes curl takes: the request is made on one thread and let go on the
    // network thread, and a text costs one allocation where a parsed URL costs several.
    : m_url(std::move(url)), m_handler(std::move(handler)), m_stop(std::move(stop))
{
    m_wakeOnStop.emplace(m_stop, WakeLoop());
}

void HttpRequest::WakeLoop::operator()() const
{
    NetworkLoop::instance().wake();
}

HttpRequest::~HttpRequest()
{
    if (m_handle)
        curl_easy_cleanup(m_handle);
}

bool HttpRequest::start(CURL *handle)
{
    m_handle = handle;
    return m_handle && setUp();
}

CURL *HttpRequest::newHandle()
{
    CURL *const handle = curl_easy_init();
    if (!handle)
        return nullptr;
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, jsonHeaders());
    // Straight to the device: an empty proxy overrides the environment's.
    curl_easy_setopt(handle, CURLOPT_PROXY, "");
    // A scan asks each address once: no connection is kept for later.
    curl_easy_setopt(handle, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(handle, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    // A request that ends while its host name is still being resolved leaves the
    // resolver's thread to finish alone, instead of joining it: the network thread never
    // waits for a name server.
    curl_easy_setopt(handle, CURLOPT_QUICK_EXIT, 1L);
    // Nor is an address kept: the cache, pruned by a walk over all of it, grows with a scan.
    curl_easy_setopt(handle, CURLOPT_DNS_CACHE_TIMEOUT, 0L);
    curl_easy_setopt(handle, CURLOPT_OPENSOCKETFUNCTION, openSocket);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, onHeader);
    return handle;
}

bool HttpRequest::setUp()
{
    if (m_url.isEmpty())
        return false;
    m_body.clear();
    curl_easy_setopt(m_handle, CURLOPT_URL, m_url.constData()); // curl copies it
    curl_easy_setopt(m_handle, CURLOPT_PRIVATE, this);
    curl_easy_setopt(m_handle, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(m_handle, CURLOPT_HEADERDATA, this);
    return true;
}

size_t HttpRequest::onHeader(char *, size_t size, size_t count, void *request)
{
    static_cast<HttpRequest *>(request)->m_lastProgress = Clock::now();
    return size * count;
}

size_t HttpRequest::onBody(char *data, size_t size, size_t count, void *opaque)
{
    auto *request = static_cast<HttpRequest *>(opaque);
    request->m_lastProgress = Clock::now();
    const size_t bytes = size * count;
    if (qint64(request->m_body.size()) + qint64(bytes) > HttpLimits::maxBodyBytes) {
        // A larger body is not read: the reply counts as one without a usable body.
        request->m_tooLarge = true;
        request->m_body.clear();
        request->m_body.squeeze();
        return 0; // ends the transfer
    }
    request->m_body.append(data, qsizetype(bytes));
    return bytes;
}

bool HttpRequest::completed(int code)
{
    long status = 0;
    curl_easy_getinfo(m_handle, CURLINFO_RESPONSE_CODE, &status);
    if (m_tooLarge) {
        m_result.responded = true;
        m_result.status = int(status);
        return false;
    }
    if (code != CURLE_OK || status <= 0) {
        long osError = 0;
        curl_easy_getinfo(m_handle, CURLINFO_OS_ERRNO, &osError);
        m_result.refused = code == CURLE_COULDNT_CONNECT && osError == ECONNREFUSED;
        m_result.noRoute = code == CURLE_COULDNT_CONNECT && (osError == ENETUNREACH || osError == EADDRNOTAVAIL);
        return false;
    }
    const char *location = nullptr;
    curl_easy_getinfo(m_handle, CURLINFO_REDIRECT_URL, &location);
    if (isRedirect(status) && location) {
        // A device may move its document on itself, never send the tool to another host.
        const QUrl target(QString::fromLatin1(location));
        const QUrl current = QUrl::fromEncoded(m_url);
        if (!target.isValid() || target.scheme() != current.scheme()
            || target.host().compare(current.host(), Qt::CaseInsensitive) != 0 || port(target) != port(current)
            || ++m_redirects > maxRedirects)
            return false;
        m_url = target.toEncoded();
        return setUp();
    }
    m_result.responded = true;
    m_result.status = int(status);
    m_result.body = m_body;
    return false;
}

bool HttpRequest::isOver(Clock::time_point now) const
{
    return m_stop.stop_requested() || now - m_lastProgress >= HttpLimits::idleTimeout
           || now - m_started >= HttpLimits::totalTimeout;
}

HttpRequest::Clock::time_point HttpRequest::deadline() const
{
    return std::min(m_lastProgress + HttpLimits::idleTimeout, m_started + HttpLimits::totalTimeout);
}

void HttpRequest::finish(bool failed)
{
    if (!m_handler)
        return;
    m_wakeOnStop.reset();
    const std::unique_ptr<HttpHandler> handler = std::move(m_handler);
    handler->finished(failed ? HttpResult() : std::move(m_result));
}
