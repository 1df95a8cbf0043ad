#pragma once

#include "probes/httprequest.h"
#include "probes/loopwork.h"

#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

typedef void CURLM;

// The HTTP client of the probes: starts a GET of the target's URL, fully encoded (an empty
// one fails as a transport error), with the headers Accept and Content-Type both
// "application/json", and returns at once; the network thread runs it. Requests go straight
// to the device, never through a proxy, with no cookies and no connection kept. Once `stop`
// is stopped, the request ends promptly as a failure, its socket closed. Any thread.
void httpGet(HttpTarget target, HttpHandler handler, std::stop_token stop);

// The network thread of the probes: one libcurl multi handle that drives every request
// at once, on one thread of its own, never destroyed (at exit a request may still be under
// way, and nothing waits for it). It never waits for any other thread: handlers run here
// and must return at once. It waits in epoll for the sockets curl names, so each pass costs
// what happened on them, not what is in flight. A request to an IPv4 address is
// connected here first, without blocking, and only a connected socket goes to curl: an
// address that refuses or cannot be reached costs no curl handle. The loop also runs work
// of its own descriptors (LoopWork), such as the scans' neighbour sweeps. The program makes it at start-up, before any other thread
// exists, so that no child can be started before its descriptors are close-on-exec.
class NetworkLoop final {
public:
    static NetworkLoop &instance();

    // Queues a request; it starts at the loop's next pass. The loop is woken only while it
    // sleeps. Any thread.
    void start(std::unique_ptr<HttpRequest> request);
    // Makes the loop look at its requests now (a run was stopped). Any thread.
    void wake();
    // Runs the work from the loop's next pass until it is over. Any thread.
    void startWork(std::shared_ptr<LoopWork> work);

private:
    using Clock = HttpRequest::Clock;

    NetworkLoop();
    // Adds to a queue under the lock, then wakes the loop if it sleeps.
    template <typename Add>
    void enqueue(Add add);
    void run();
    // Waits for the sockets, the time-outs or a wake-up, and lets curl act on what came.
    void waitAndAct();
    void startQueued();
    // Connects to the request's address, or hands it to curl as it is.
    void connectOrStart(std::unique_ptr<HttpRequest> request);
    void connected(int socket);
    void startTransfer(std::unique_ptr<HttpRequest> request);
    void actOnWorks(Clock::time_point now);
    void readCompletions();
    void endOverdue();
    // Takes an ended request out of the transfers; its handler runs at the pass's end.
    void end(CURL *handle, bool failed);
    void finishEnded();
    // The handle of an ended transfer, or a new one.
    CURL *spareHandle();
    void keepHandle(CURL *handle);

    static int onSocket(CURL *handle, int socket, int what, void *loop, void *);
    static int onTimer(CURLM *multi, long timeoutMs, void *loop);

    CURLM *m_multi = nullptr;
    int m_epoll = -1;
    int m_wakeUp = -1; // an eventfd
    std::mutex m_mutex;
    std::deque<std::unique_ptr<HttpRequest>> m_queued; // under m_mutex
    std::vector<std::shared_ptr<LoopWork>> m_queuedWorks; // under m_mutex
    // Set while the loop sleeps in epoll, or is about to: only then does a new request need
    // to wake it. Under m_mutex.
    bool m_sleeping = false;
    struct Ended {
        std::unique_ptr<HttpRequest> request;
        bool failed = false;
    };
    // Network thread only.
    std::map<CURL *, std::unique_ptr<HttpRequest>> m_active;
    std::map<int, std::unique_ptr<HttpRequest>> m_connecting; // by socket, before curl
    std::vector<std::shared_ptr<LoopWork>> m_works;
    std::vector<Ended> m_ended;
    std::vector<CURL *> m_spareHandles;
    std::optional<Clock::time_point> m_curlTimer; // when curl wants to act on its own
};
