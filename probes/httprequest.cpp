#include "probes/httprequest.h"

#include "probes/networkloop.h"

#include <curl/curl.h>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Qt and browsers follow this many; a device never needs more.
constexpr int maxRedirects = 50;

bool isRedirect(long status)
{
    return status == 301 || status == 302 || status == 303 || status == 305 || status == 307 || status == 308;
}

int closeSocket(void *, curl_socket_t socket)
{
    return ::close(socket);
}

// What curl's result says of a connection that failed with the system's `error`.
void noteConnectFailure(HttpResult &result, int error)
{
    result.refused = error == ECONNREFUSED;
    result.noRoute = error == ENETUNREACH || error == EADDRNOTAVAIL;
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

HttpRequest::HttpRequest(HttpTarget target, HttpHandler handler, std::stop_token stop)
    // Kept as the bytes curl takes: the request is made on one thread and let go on the
    // network thread, and a text costs one allocation where a parsed URL costs several.
    : m_host(std::move(target.host)), m_url(std::move(target.url)), m_handler(std::move(handler)),
      m_stop(std::move(stop))
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
    if (m_socket >= 0)
        ::close(m_socket);
}

struct HttpRequest::SocketCallbacks {
    static curl_socket_t open(void *request, curlsocktype purpose, curl_sockaddr *address);
    static int options(void *request, curl_socket_t socket, curlsocktype purpose);
};

curl_socket_t HttpRequest::SocketCallbacks::open(void *opaque, curlsocktype, curl_sockaddr *address)
{
    auto *const request = static_cast<HttpRequest *>(opaque);
    if (request->m_socket >= 0) {
        request->m_handedSocket = std::exchange(request->m_socket, -1);
        return request->m_handedSocket;
    }
    // A redirect's, or one to a host name, which may get the number of one closed before.
    // Close-on-exec, so that a child started by "Open" does not inherit it.
    request->m_handedSocket = -1;
    return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

int HttpRequest::SocketCallbacks::options(void *opaque, curl_socket_t socket, curlsocktype)
{
    return socket == static_cast<HttpRequest *>(opaque)->m_handedSocket ? CURL_SOCKOPT_ALREADY_CONNECTED
                                                                        : CURL_SOCKOPT_OK;
}

void HttpRequest::connectFailed(int error)
{
    noteConnectFailure(m_result, error);
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
    curl_easy_setopt(handle, CURLOPT_OPENSOCKETFUNCTION, SocketCallbacks::open);
    curl_easy_setopt(handle, CURLOPT_SOCKOPTFUNCTION, SocketCallbacks::options);
    curl_easy_setopt(handle, CURLOPT_CLOSESOCKETFUNCTION, closeSocket);
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
    curl_easy_setopt(m_handle, CURLOPT_OPENSOCKETDATA, this);
    curl_easy_setopt(m_handle, CURLOPT_SOCKOPTDATA, this);
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
        if (code == CURLE_COULDNT_CONNECT)
            noteConnectFailure(m_result, int(osError));
        return false;
    }
    const char *location = nullptr;
    curl_easy_getinfo(m_handle, CURLINFO_REDIRECT_URL, &location);
    if (isRedirect(status) && location) {
        // A device may move its document on itself, never send the tool to another host.
        const QUrl target(QString::fromLatin1(location));
        const QUrl current = QUrl::fromEncoded(m_url);
        if (!target.isValid() || target.scheme() != current.scheme()
            || target.host().compare(current.host(), Qt::CaseInsensitive) != 0 || target.port(80) != current.port(80)
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
    const HttpHandler handler = std::exchange(m_handler, nullptr);
    handler(failed ? HttpResult() : std::move(m_result));
}
