#pragma once

#include "platform/backgroundpool.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

// A counting semaphore. Units are handed to waiters in the order they began to wait,
// whether they wait blocking a thread or queued without one. No wait has a time limit.
class Semaphore final {
public:
    explicit Semaphore(int count);
    Semaphore(const Semaphore &) = delete;
    Semaphore &operator=(const Semaphore &) = delete;

    // Takes a unit, blocking the calling thread until one is free. Never on the main thread.
    void wait();
    // Takes a unit when one is free and nobody waits for one; never blocks. Any thread.
    bool tryWait();
    // Takes a unit without holding a thread while none is free; once it has the unit,
    // queues the task on the pool. Returns at once. Any thread.
    void waitAsync(std::function<void()> task, BackgroundPool &pool = BackgroundPool::global());
    // Gives a unit back and hands it to the longest waiter, if any. Any thread.
    void signal();

private:
    struct Waiter {
        std::function<void()> task; // queued waiter
        BackgroundPool *pool = nullptr;
        bool *granted = nullptr; // blocked waiter
    };

    std::mutex m_mutex;
    std::condition_variable m_granted;
    std::deque<Waiter> m_waiters;
    int m_count;
};
