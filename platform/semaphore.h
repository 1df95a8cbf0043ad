#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>

// A counting semaphore. Units are handed to waiters in the order they began to wait.
// No wait has a time limit.
class Semaphore final {
public:
    explicit Semaphore(int count);
    Semaphore(const Semaphore &) = delete;
    Semaphore &operator=(const Semaphore &) = delete;

    // Takes a unit, blocking the calling thread until one is free. Never on the main thread.
    void wait();
    // Takes a unit when one is free and nobody waits for one; never blocks. Any thread.
    bool tryWait();
    // Gives a unit back and hands it to the longest waiter, if any. Any thread.
    void signal();

private:
    std::mutex m_mutex;
    std::condition_variable m_granted;
    std::deque<bool *> m_waiters; // each waiter's flag, set when it is handed a unit
    int m_count;
};
