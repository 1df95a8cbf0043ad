#pragma once

#include "address/socketaddress.h"
#include "probes/httpclient.h"

#include <QUrl>

#include <chrono>
#include <optional>
#include <stop_token>
#include <utility>

typedef void CURL;

// One GET in flight on the network thread's transfer loop: one easy handle that reads the
// body up to its limit and notes when bytes last arrived. The loop follows a redirect
// only to the same address and port, and ends the request at its time-outs or its run's
// stop. Made on the caller's thread, then owned and ended by the network thread.
class HttpRequest final {
public:
    using Clock = std::chrono::steady_clock;

    // The target's URL fully encoded; an empty one fails.
    HttpRequest(HttpTarget target, HttpHandler handler, std::stop_token stop);
    ~HttpRequest();
    HttpRequest(const HttpRequest &) = delete;
    HttpRequest &operator=(const HttpRequest &) = delete;

    // A handle with the options every request shares, for any number of requests one
    // after another; nothing when curl has none to give.
    static CURL *newHandle();
    // Takes such a handle, new or used before, and sets it up for the URL; false when the
    // URL is no valid http URL. Network thread.
    bool start(CURL *handle);
    CURL *handle() const { return m_handle; }
    // Gives the handle back, for another request; the request holds none after this.
    CURL *releaseHandle() { return std::exchange(m_handle, nullptr); }

    // Where the loop connects itself before it hands the request to curl; nothing for a
    // host name, which curl resolves.
    std::optional<SocketAddress> endpoint() const { return socketAddress(m_host, 80); }
    // The loop's connection, connected: curl takes it as its own instead of opening one.
    // Network thread.
    void handOver(int socket) { m_socket = socket; }
    // The loop's connection failed with `error` (errno): the result says so as curl's would,
    // and no curl handle is taken. Network thread.
    void connectFailed(int error);

    // The transfer ended with curl's result `code`. True when it was a redirect the request
    // follows: the handle is set up for the new URL. Else the result is ready.
    bool completed(int code);
    // The run was stopped, or no byte arrived for the idle time, or the total time is up.
    bool isOver(Clock::time_point now) const;
    // When it will be over unless bytes arrive.
    Clock::time_point deadline() const;
    // Hands the result (or a transport failure) to the handler, once.
    void finish(bool failed);

private:
    bool setUp();
    // curl's socket callbacks, with curl's types.
    struct SocketCallbacks;
    static size_t onBody(char *data, size_t size, size_t count, void *request);
    static size_t onHeader(char *data, size_t size, size_t count, void *request);

    const Address m_host;
    QByteArray m_url;
    HttpHandler m_handler;
    // A stop makes the loop look at its requests at once.
    struct WakeLoop {
        void operator()() const;
    };

    std::stop_token m_stop;
    std::optional<std::stop_callback<WakeLoop>> m_wakeOnStop;
    CURL *m_handle = nullptr;
    const Clock::time_point m_started = Clock::now();
    Clock::time_point m_lastProgress = m_started;
    QByteArray m_body;
    HttpResult m_result;
    int m_redirects = 0;
    int m_socket = -1; // the loop's connection, until curl takes it
    int m_handedSocket = -1; // the one curl took
    bool m_tooLarge = false;
};
