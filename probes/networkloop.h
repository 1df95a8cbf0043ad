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
// at once, on one thread of its own, started on first use and never destroyed (at exit a
// request may still be under way, and nothing waits for it). It never waits for any other
// thread: handlers run here and must return at once.
class NetworkLoop final {
public:
    static NetworkLoop &instance();

    // Queues a request; it starts at the loop's next pass. Any thread.
    void start(std::unique_ptr<HttpRequest> request);
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
    std::map<CURL *, std::unique_ptr<HttpRequest>> m_active; // network thread only
    std::thread::id m_threadId;
};
