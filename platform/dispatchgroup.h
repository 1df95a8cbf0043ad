#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

// A counter of unfinished work: wait() returns once every enter() has been matched by a
// leave(). A leave() without its enter() stops the program. Entering and leaving take no
// lock, so the threads that do them never wait for each other; only the last leave wakes
// a waiter. Any thread; wait() never on the main thread.
class DispatchGroup final {
public:
    DispatchGroup() = default;
    DispatchGroup(const DispatchGroup &) = delete;
    DispatchGroup &operator=(const DispatchGroup &) = delete;

    void enter();
    void leave();
    void wait();
    // How many leave() calls there have been so far.
    long left() const { return m_left.load(std::memory_order_acquire); }

private:
    std::atomic<long> m_unfinished{0};
    std::atomic<long> m_left{0};
    std::mutex m_mutex; // for the waiter's sleep and the last leave's wake-up
    std::condition_variable m_done;
};
