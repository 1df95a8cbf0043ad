#pragma once

#include "probes/httprequest.h"

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

typedef void CURLM;

// The network thread of the probes: one libcurl multi handle that drives every request
// at once, on one thread of its own, never destroyed (at exit a request may still be under
// way, and nothing waits for it). It never waits for any other thread: handlers run here
// and must return at once. The program makes it at start-up, before any other thread
// exists, so that no child can be started before its descriptors are close-on-exec.
class NetworkLoop final {
public:
    static NetworkLoop &instance();

    // Queues a request; it starts at the loop's next pass. Any thread.
    void start(std::unique_ptr<HttpRequest> request);
    // Queues several at once, with at most one wake-up of the loop. Any thread.
    void start(std::vector<std::unique_ptr<HttpRequest>> requests);
    // Makes the loop look at its requests now (a run was stopped). Any thread.
    void wake();

private:
    NetworkLoop();
    void run();
    void startQueued();
    void readCompletions();
    void endOverdue();
    void end(CURL *handle, bool failed);

    CURLM *m_multi = nullptr;
    std::mutex m_mutex;
    std::deque<std::unique_ptr<HttpRequest>> m_queued; // under m_mutex
    // Set while the loop sleeps in curl_multi_poll, or is about to: only then does a new
    // request need to wake it. Under m_mutex.
    bool m_sleeping = false;
    std::map<CURL *, std::unique_ptr<HttpRequest>> m_active; // network thread only
};
