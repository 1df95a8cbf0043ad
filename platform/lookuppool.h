#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

// The threads on which blocking name look-ups (getnameinfo) run: the only ones in the
// tool, for discovery and the range scan alike. Each look-up has an owner, a stop token
// that is stopped once nobody wants its answer any more: its run stopped or ended, or its
// time budget passed. A look-up whose owner has stopped never starts, and one that is
// already running no longer counts against the limit of live look-ups; its thread is
// left to finish on its own. So a name server that never answers holds back no later run:
// each run finds room beside the look-ups the runs before it gave up. Threads start on
// demand and stay; there are never more than `maxThreads`. Any thread.
class LookupPool final {
public:
    // How long a run waits for a look-up's answer (a discovery: for its replies' look-ups,
    // once its receive window has closed) before it goes on as if no name had been found.
    static constexpr std::chrono::seconds budget{3};

    LookupPool(int liveLimit, int maxThreads);
    // Runs what is queued for owners that have not stopped, then joins. Never called for
    // the process-wide pool, so that quitting never waits for a name server.
    ~LookupPool();
    LookupPool(const LookupPool &) = delete;
    LookupPool &operator=(const LookupPool &) = delete;

    // The process-wide pool: 32 live look-ups, 64 threads. It is never destroyed.
    static LookupPool &instance();

    // Queues a look-up for `owner` and returns at once.
    void async(std::stop_token owner, std::function<void()> lookUp);

    // Threads started so far.
    int threadCount() const;

private:
    struct Task {
        std::stop_token owner;
        std::function<void()> lookUp;
    };
    struct Worker {
        std::thread thread;
        std::stop_token running; // the owner of the look-up it runs; empty while idle
    };

    void work(Worker *worker);
    // The rest run with m_mutex held. Look-ups whose owners have stopped are moved to
    // `dropped`, for the caller to let go of once it has released the mutex.
    // Wakes or starts as many threads as look-ups may start now.
    void dispatchLocked(std::deque<Task> &dropped);
    // Whether a queued look-up may start now.
    bool mayStartLocked(std::deque<Task> &dropped);
    // Look-ups running whose owners still want them.
    int liveCountLocked() const;

    const int m_liveLimit;
    const int m_maxThreads;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Task> m_queue;
    std::vector<std::unique_ptr<Worker>> m_workers;
    int m_idle = 0;
    int m_starting = 0; // threads made that have not yet looked at the queue
    bool m_stopping = false;
};
